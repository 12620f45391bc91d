#include "KCDmCryptDiskEncryption.h"
#include "KCLinuxSshdSettings.h"
#include "KCNetdbServicesDatabase.h"
#include "KCProcessCommandRunner.h"
#include "KCSysfsNetworkDevices.h"
#include "KCSysfsPowerSupplies.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using namespace std::chrono_literals;

namespace {

// A file-system tree of a test's own, standing in for /, /sys or /proc.
class FakeTree {
public:
    QString root() const { return m_dir.path(); }
    QString path(const QString &relative) const { return QDir(m_dir.path()).filePath(relative); }

    void write(const QString &relative, const QByteArray &contents) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }
    void mkdir(const QString &relative) const { QDir().mkpath(path(relative)); }
    // A relative symbolic link, as sysfs and /dev/mapper have them.
    void link(const QString &relative, const QString &target) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        ASSERT_TRUE(QFile::link(target, path(relative))) << relative.toStdString();
    }

private:
    QTemporaryDir m_dir;
};

void netDevice(const FakeTree &tree, const QString &name, int index, int type, const QByteArray &address)
{
    const QString folder = QStringLiteral("class/net/") + name;
    tree.write(folder + QStringLiteral("/ifindex"), QByteArray::number(index) + '\n');
    tree.write(folder + QStringLiteral("/type"), QByteArray::number(type) + '\n');
    tree.write(folder + QStringLiteral("/address"), address + '\n');
}

} // namespace

TEST(KCSysfsNetworkDevices, DescribesEachDeviceAndReadsItsAddress)
{
    FakeTree sys;
    netDevice(sys, QStringLiteral("wlan0"), 3, 1, "a4:c3:f0:11:22:33");
    sys.mkdir(QStringLiteral("class/net/wlan0/device"));
    sys.mkdir(QStringLiteral("class/net/wlan0/phy80211"));
    netDevice(sys, QStringLiteral("eth0"), 2, 1, "00:1a:2b:3c:4d:5e");
    sys.mkdir(QStringLiteral("class/net/eth0/device"));
    netDevice(sys, QStringLiteral("br0"), 4, 1, "52:54:00:99:88:aa");
    netDevice(sys, QStringLiteral("lo"), 1, 772, "00:00:00:00:00:00");
    netDevice(sys, QStringLiteral("wg0"), 5, 65534, "");
    netDevice(sys, QStringLiteral("bad"), 6, 1, "00:1a:2b:3c:4d:zz");
    sys.write(QStringLiteral("class/net/gone/type"), "1\n"); // vanished while listed: no index

    const KCSysfsNetworkDevices devices(sys.root());
    const auto list = devices.devices();
    EXPECT_EQ(list.error, 0);
    QStringList described;
    for (const KCNetworkDevice &d : list.devices)
        described.append(QStringLiteral("%1 %2 %3").arg(d.name).arg(d.index).arg(d.type)
                         + QLatin1String(d.physical ? " physical" : "") + QLatin1String(d.wireless ? " wireless" : ""));
    EXPECT_EQ(described, (QStringList{QStringLiteral("lo 1 772"), QStringLiteral("eth0 2 1 physical"),
                                      QStringLiteral("wlan0 3 1 physical wireless"), QStringLiteral("br0 4 1"),
                                      QStringLiteral("wg0 5 65534"), QStringLiteral("bad 6 1")}));

    EXPECT_EQ(devices.hardwareAddress(QStringLiteral("eth0")).bytes, QByteArray::fromHex("001a2b3c4d5e"));
    const auto noAddress = devices.hardwareAddress(QStringLiteral("wg0"));
    EXPECT_EQ(noAddress.error, 0);
    EXPECT_TRUE(noAddress.bytes.isEmpty());
    EXPECT_EQ(devices.hardwareAddress(QStringLiteral("bad")).error, EINVAL);
    EXPECT_EQ(devices.hardwareAddress(QStringLiteral("eth9")).error, ENOENT);
    EXPECT_EQ(devices.hardwareAddress(QStringLiteral("../../../etc/passwd")).error, EINVAL);
    EXPECT_EQ(devices.hardwareAddress(QStringLiteral("..")).error, EINVAL);

    EXPECT_EQ(KCSysfsNetworkDevices(sys.path(QStringLiteral("missing"))).devices().error, ENOENT);
}

TEST(KCSysfsPowerSupplies, MainsPowerOrNoBattery)
{
    struct Supply {
        const char *name;
        const char *type;
        const char *online; // nullptr: no such file
        const char *scope;
    };
    struct Case {
        const char *what;
        bool folderExists;
        QList<Supply> supplies;
        bool expected;
    };
    const QList<Case> cases = {
        {"no power-supply folder at all", false, {}, false},
        {"a desktop lists nothing", true, {}, true},
        {"laptop on its adapter", true, {{"AC", "Mains", "1", nullptr}, {"BAT0", "Battery", nullptr, nullptr}}, true},
        {"laptop on battery", true, {{"AC", "Mains", "0", nullptr}, {"BAT0", "Battery", nullptr, nullptr}}, false},
        {"battery without an adapter entry", true, {{"BAT0", "Battery", nullptr, nullptr}}, false},
        {"USB-C charger", true, {{"ucsi-source-psy-USBC000:001", "USB", "1", nullptr}, {"BAT0", "Battery", nullptr, nullptr}}, true},
        {"a wireless mouse's battery is not the machine's", true, {{"hidpp_battery_0", "Battery", nullptr, "Device"}}, true},
        {"a mouse's charger does not power the machine", true,
         {{"hid-charger", "Mains", "1", "Device"}, {"BAT0", "Battery", nullptr, nullptr}}, false},
    };
    for (const Case &c : cases) {
        FakeTree sys;
        if (c.folderExists)
            sys.mkdir(QStringLiteral("class/power_supply"));
        for (const Supply &s : c.supplies) {
            const QString folder = QStringLiteral("class/power_supply/") + QLatin1String(s.name);
            sys.write(folder + QStringLiteral("/type"), QByteArray(s.type) + '\n');
            if (s.online)
                sys.write(folder + QStringLiteral("/online"), QByteArray(s.online) + '\n');
            if (s.scope)
                sys.write(folder + QStringLiteral("/scope"), QByteArray(s.scope) + '\n');
        }
        EXPECT_EQ(KCSysfsPowerSupplies(sys.root()).onMainsPower(), c.expected) << c.what;
    }
}

namespace {

// Lays out /sys/devices/virtual/block/NAME (with an optional dm uuid and slaves) and the
// /sys/dev/block/MAJ:MIN link to it.
void blockDevice(const FakeTree &tree, const QString &name, const QString &number, const QByteArray &dmUuid,
                 const QStringList &slaves = {})
{
    const QString folder = QStringLiteral("sys/devices/virtual/block/") + name;
    tree.mkdir(folder);
    if (!dmUuid.isEmpty())
        tree.write(folder + QStringLiteral("/dm/uuid"), dmUuid + '\n');
    for (const QString &slave : slaves)
        tree.link(folder + QStringLiteral("/slaves/") + slave, QStringLiteral("../../") + slave);
    tree.link(QStringLiteral("sys/dev/block/") + number, QStringLiteral("../../devices/virtual/block/") + name);
    tree.link(QStringLiteral("sys/class/block/") + name, QStringLiteral("../../devices/virtual/block/") + name);
}

QByteArray rootMount(const char *number, const char *type, const char *source)
{
    return QByteArray("22 28 0:21 / /proc rw,relatime - proc proc rw\n") + "29 1 " + number + " / / rw,relatime shared:1 - " + type
        + " " + source + " rw\n";
}

} // namespace

TEST(KCDmCryptDiskEncryption, RootOnDmCryptAnywhereBelow)
{
    struct Case {
        const char *what;
        std::function<void(const FakeTree &)> setup;
        bool expected;
    };
    const QList<Case> cases = {
        {"no mount table", [](const FakeTree &) {}, false},
        {"plain partition",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("nvme0n1p2"), QStringLiteral("259:2"), {});
             t.write(QStringLiteral("proc/self/mountinfo"), rootMount("259:2", "ext4", "/dev/nvme0n1p2"));
         },
         false},
        {"directly on a LUKS mapping",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("nvme0n1p2"), QStringLiteral("259:2"), {});
             blockDevice(t, QStringLiteral("dm-0"), QStringLiteral("254:0"), "CRYPT-LUKS2-0f1e2d3c-root", {QStringLiteral("nvme0n1p2")});
             t.write(QStringLiteral("proc/self/mountinfo"), rootMount("254:0", "ext4", "/dev/mapper/root"));
         },
         true},
        {"LVM on LUKS",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("sda3"), QStringLiteral("8:3"), {});
             blockDevice(t, QStringLiteral("dm-0"), QStringLiteral("254:0"), "CRYPT-LUKS2-aa-sda3_crypt", {QStringLiteral("sda3")});
             blockDevice(t, QStringLiteral("dm-1"), QStringLiteral("254:1"), "LVM-abcdef", {QStringLiteral("dm-0")});
             t.write(QStringLiteral("proc/self/mountinfo"), rootMount("254:1", "ext4", "/dev/mapper/vg-root"));
         },
         true},
        {"LVM on a plain partition",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("sda3"), QStringLiteral("8:3"), {});
             blockDevice(t, QStringLiteral("dm-1"), QStringLiteral("254:1"), "LVM-abcdef", {QStringLiteral("sda3")});
             t.write(QStringLiteral("proc/self/mountinfo"), rootMount("254:1", "ext4", "/dev/mapper/vg-root"));
         },
         false},
        {"btrfs reports an anonymous device: the source names it",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("dm-0"), QStringLiteral("254:0"), "CRYPT-LUKS2-bb-luks", {});
             t.link(QStringLiteral("dev/mapper/luks-bb"), QStringLiteral("../dm-0"));
             t.write(QStringLiteral("dev/dm-0"), {});
             t.write(QStringLiteral("proc/self/mountinfo"), rootMount("0:30", "btrfs", "/dev/mapper/luks-bb"));
         },
         true},
        {"the last mount on / is the one in effect",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("dm-0"), QStringLiteral("254:0"), "CRYPT-LUKS2-cc-root", {});
             t.write(QStringLiteral("proc/self/mountinfo"),
                     rootMount("254:0", "ext4", "/dev/mapper/root") + "40 1 0:45 / / rw - overlay overlay rw\n");
         },
         false},
        {"a loop in the device stack ends",
         [](const FakeTree &t) {
             blockDevice(t, QStringLiteral("dm-1"), QStringLiteral("254:1"), "LVM-a", {QStringLiteral("dm-2")});
             blockDevice(t, QStringLiteral("dm-2"), QStringLiteral("254:2"), "LVM-b", {QStringLiteral("dm-1")});
             t.write(QStringLiteral("proc/self/mountinfo"), rootMount("254:1", "ext4", "/dev/mapper/vg-root"));
         },
         false},
    };
    for (const Case &c : cases) {
        FakeTree root;
        c.setup(root);
        EXPECT_EQ(KCDmCryptDiskEncryption(root.root()).rootFileSystemEncrypted(), c.expected) << c.what;
    }
}

namespace {

class ScriptedRunner final : public KCCommandRunner {
public:
    Result run(const QString &program, const QStringList &arguments, std::chrono::milliseconds) const override
    {
        calls.append(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')));
        return result;
    }
    Result result;
    mutable QStringList calls;
};

KCCommandRunner::Result printed(const QByteArray &output, int exitCode = 0)
{
    return {true, true, exitCode, output};
}

} // namespace

TEST(KCLinuxSshdSettings, TakesTheFirstSourceThatNamesAPort)
{
    const QByteArray debianSocket = "[Unit]\nDescription=OpenBSD Secure Shell server socket\n\n[Socket]\nListenStream=22\nAccept=yes\n";
    struct Case {
        const char *what;
        KCCommandRunner::Result server;
        QList<std::pair<QString, QByteArray>> files;
        std::optional<QString> expected;
    };
    const QList<Case> cases = {
        {"the server's own view", printed("port 2200\naddressfamily any\nport 2201\n"),
         {{QStringLiteral("etc/ssh/sshd_config"), "Port 2299\n"}}, QStringLiteral("2200")},
        {"the server refuses: the configuration file", printed("", 255),
         {{QStringLiteral("etc/ssh/sshd_config"), "# Port 1\n  port=2201\nPort 2299\n"}}, QStringLiteral("2201")},
        {"the server is not installed", {},
         {{QStringLiteral("etc/ssh/sshd_config"), "Port \"2201\"\n"}}, QStringLiteral("2201")},
        {"an include comes first, in place", {},
         {{QStringLiteral("etc/ssh/sshd_config"), "Include /etc/ssh/sshd_config.d/*.conf\nPort 2299\n"},
          {QStringLiteral("etc/ssh/sshd_config.d/10-other.conf"), "PasswordAuthentication no\n"},
          {QStringLiteral("etc/ssh/sshd_config.d/20-port.conf"), "Port 2202\n"},
          {QStringLiteral("etc/ssh/sshd_config.d/30-port.conf"), "Port 2298\n"}},
         QStringLiteral("2202")},
        {"a relative include and a file that includes itself", {},
         {{QStringLiteral("etc/ssh/sshd_config"), "Include sshd_config\nInclude local.conf\n"},
          {QStringLiteral("etc/ssh/local.conf"), "Port 2203\n"}},
         QStringLiteral("2203")},
        {"a port inside a Match block does not count", {},
         {{QStringLiteral("etc/ssh/sshd_config"), "Match User anna\n  Port 2299\n"},
          {QStringLiteral("lib/systemd/system/ssh.socket"), debianSocket}},
         QStringLiteral("22")},
        {"no port in the configuration: the socket unit", {},
         {{QStringLiteral("etc/ssh/sshd_config"), "#Port 22\nUsePAM yes\n"},
          {QStringLiteral("lib/systemd/system/ssh.socket"), debianSocket}},
         QStringLiteral("22")},
        {"a drop-in that resets the listeners", {},
         {{QStringLiteral("lib/systemd/system/ssh.socket"), debianSocket},
          {QStringLiteral("etc/systemd/system/ssh.socket.d/port.conf"), "[Socket]\nListenStream=\nListenStream=0.0.0.0:2204\n"}},
         QStringLiteral("2204")},
        {"a drop-in in /etc hides one of the same name in /lib", {},
         {{QStringLiteral("lib/systemd/system/ssh.socket"), debianSocket},
          {QStringLiteral("lib/systemd/system/ssh.socket.d/port.conf"), "[Socket]\nListenStream=\nListenStream=2298\n"},
          {QStringLiteral("etc/systemd/system/ssh.socket.d/port.conf"), "[Socket]\nListenStream=\nListenStream=[::]:2205\n"}},
         QStringLiteral("2205")},
        {"a unit in /etc replaces the one in /lib", {},
         {{QStringLiteral("lib/systemd/system/ssh.socket"), debianSocket},
          {QStringLiteral("etc/systemd/system/ssh.socket"), "[Socket]\nListenStream=/run/sshd.sock\n"}},
         QStringLiteral("/run/sshd.sock")},
        {"ListenStream outside the Socket section is no listener", {},
         {{QStringLiteral("lib/systemd/system/ssh.socket"), "[Unit]\nListenStream=2299\n"}}, std::nullopt},
        {"nothing names a port", {}, {}, std::nullopt},
    };
    for (const Case &c : cases) {
        FakeTree root;
        for (const auto &[path, contents] : c.files)
            root.write(path, contents);
        ScriptedRunner runner;
        runner.result = c.server;
        EXPECT_EQ(KCLinuxSshdSettings(root.root(), runner, true).listenerValue(), c.expected) << c.what;
        EXPECT_EQ(runner.calls, QStringList{QStringLiteral("/usr/sbin/sshd -T")}) << c.what;
    }

    FakeTree root;
    root.write(QStringLiteral("etc/ssh/sshd_config"), "Port 2201\n");
    ScriptedRunner runner;
    runner.result = printed("port 2200\n");
    EXPECT_EQ(KCLinuxSshdSettings(root.root(), runner, false).listenerValue(), QStringLiteral("2201"));
    EXPECT_TRUE(runner.calls.isEmpty()) << "the server is not run where it may not read its keys";
}

TEST(KCProcessCommandRunner, ReportsOutputExitAndTimeOut)
{
    const KCProcessCommandRunner runner;
    const auto ran = runner.run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo 'port 22'; echo noise >&2; exit 3")}, 10s);
    EXPECT_TRUE(ran.started);
    EXPECT_TRUE(ran.finished);
    EXPECT_EQ(ran.exitCode, 3);
    EXPECT_EQ(ran.standardOutput, QByteArray("port 22\n"));

    EXPECT_FALSE(runner.run(QStringLiteral("/nonexistent/sshd"), {}, 10s).started);

    const auto hung = runner.run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("sleep 60")}, 200ms);
    EXPECT_TRUE(hung.started);
    EXPECT_FALSE(hung.finished);
}

TEST(KCNetdbServicesDatabase, LooksUpTcpPorts)
{
    if (!QFile::exists(QStringLiteral("/etc/services")))
        GTEST_SKIP() << "this system has no services database";
    const KCNetdbServicesDatabase services;
    EXPECT_EQ(services.tcpPort(QStringLiteral("ssh")), 22);
    EXPECT_EQ(services.tcpPort(QStringLiteral("no-such-service-here")), std::nullopt);
    EXPECT_EQ(services.tcpPort(QString()), std::nullopt);
}
