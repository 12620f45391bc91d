#include "KCDaemonSystemInformation.h"
#include "KCFakeDynamicStore.h"
#include "KCFakeSystemInformationSources.h"
#include "KCLogCapture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>

namespace {

using Fake = KCFakeSystemInformationSources;
using KCSI = KCDaemonSystemInformation;

const QByteArray ethernetAddress = QByteArray::fromHex("001a2b3c4d5e");
const QByteArray wifiAddress = QByteArray::fromHex("a4c3f0112233");
const QByteArray zeroAddress = QByteArray::fromHex("000000000000");
const QByteArray placeholderAddress = QByteArray::fromHex("020000000000");

quint32 ipv4(const char *text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

// A laptop: Ethernet eth0 (index 2) and Wi-Fi wlan0 (index 3), online through the Wi-Fi.
void laptop(Fake &fake)
{
    fake.addDevice(QStringLiteral("lo"), 1, false, false, zeroAddress, 772);
    fake.addDevice(QStringLiteral("eth0"), 2, true, false, ethernetAddress);
    fake.addDevice(QStringLiteral("wlan0"), 3, true, true, wifiAddress);
    fake.addInterface(QStringLiteral("eth0"), QStringLiteral("192.168.1.20"), ethernetAddress);
    fake.addInterface(QStringLiteral("wlan0"), QStringLiteral("10.0.0.5"), wifiAddress);
    fake.defaultRoute = KCGlobalIPv4State{QStringLiteral("10.0.0.1"), QStringLiteral("wlan0"), 3};
}

// A virtual machine behind a bridge: no physical interface, so no hardware address from the
// device model; the bridge carries the default route.
void bridgedMachine(Fake &fake, const QByteArray &bridgeAddress)
{
    fake.addDevice(QStringLiteral("br0"), 4, false, false, bridgeAddress);
    fake.addInterface(QStringLiteral("br0"), QStringLiteral("192.168.7.10"), bridgeAddress);
    fake.defaultRoute = KCGlobalIPv4State{QStringLiteral("192.168.7.1"), QStringLiteral("br0"), 4};
}

} // namespace

TEST(KCDaemonSystemInformation, HardwareAddressFallsBackThroughEverySource)
{
    struct Case {
        const char *what;
        std::function<void(Fake &)> setup;
        QString expected;
        QStringList expectedLogs;
    };
    const QList<Case> cases = {
        {"the first physical Ethernet interface, whatever carries the default route", laptop, QStringLiteral("00:1A:2B:3C:4D:5E"), {}},
        {"an unreadable address is skipped",
         [](Fake &fake) {
             laptop(fake);
             fake.hardwareAddresses[QStringLiteral("eth0")] = {EACCES, {}};
         },
         QStringLiteral("A4:C3:F0:11:22:33"),
         {QStringLiteral("IORegistryGetParentEntry returned 13")}},
        {"placeholder and zero addresses are never taken",
         [](Fake &fake) {
             laptop(fake);
             fake.hardwareAddresses[QStringLiteral("eth0")] = {0, placeholderAddress};
             fake.hardwareAddresses[QStringLiteral("wlan0")] = {0, zeroAddress};
             fake.interfaceAddressList[0].linkLayerAddress = placeholderAddress;
             fake.interfaceAddressList[2].linkLayerAddress = zeroAddress;
         },
         QStringLiteral("000000000000"),
         {}},
        {"no device list: the neighbour table's entry for the private address",
         [](Fake &fake) {
             bridgedMachine(fake, ethernetAddress);
             fake.deviceList.error = ENOENT;
             fake.neighbours.entries = {{ipv4("192.168.7.10"), QByteArray::fromHex("5254001234ab")}};
         },
         QStringLiteral("52:54:00:12:34:AB"),
         {QStringLiteral("IOServiceGetMatchingServices() returned 2"), QStringLiteral("interface name: br0; address: 192.168.7.10")}},
        {"an invalid neighbour entry is passed over for the interface's link-layer address",
         [](Fake &fake) {
             bridgedMachine(fake, QByteArray::fromHex("5254009988aa"));
             fake.neighbours.entries = {{ipv4("192.168.7.10"), placeholderAddress}};
         },
         QStringLiteral("52:54:00:99:88:AA"),
         {}},
        {"a link-layer address of the wrong length is not an address",
         [](Fake &fake) { bridgedMachine(fake, QByteArray::fromHex("5254009988aabbcc")); },
         QStringLiteral("000000000000"),
         {}},
        {"nothing at all", [](Fake &) {}, QStringLiteral("000000000000"), {}},
    };
    for (const Case &c : cases) {
        Fake fake;
        c.setup(fake);
        KCLogCapture log;
        const QString withColons = KCSI::macAddressHexString(false, fake.sources());
        EXPECT_EQ(withColons, c.expected) << c.what;
        for (const QString &line : c.expectedLogs)
            EXPECT_TRUE(log.contains(line)) << c.what << ": " << line.toStdString() << " in " << log.lines().join(QLatin1Char('|')).toStdString();
        QString withoutColons = c.expected;
        if (c.expected != QLatin1String("000000000000"))
            withoutColons.remove(QLatin1Char(':'));
        EXPECT_EQ(KCSI::macAddressHexString(true, fake.sources()), withoutColons) << c.what;
    }
}

TEST(KCDaemonSystemInformation, HardwareAddressLookupsByInterface)
{
    Fake fake;
    laptop(fake);
    fake.addDevice(QStringLiteral("veth0"), 5, false, false, QByteArray::fromHex("0e1122334455"));
    const auto sources = fake.sources();

    EXPECT_EQ(KCSI::primaryMACAddress(sources), KCHardwareAddress::fromBytes(ethernetAddress));
    EXPECT_EQ(KCSI::macAddressForInterfaceNamed(QStringLiteral("wlan0"), sources), KCHardwareAddress::fromBytes(wifiAddress));
    EXPECT_EQ(KCSI::macAddressForInterfaceNamed(QStringLiteral("veth0"), sources), std::nullopt) << "not hardware";
    EXPECT_EQ(KCSI::macAddressForInterfaceNamed(QString(), sources), std::nullopt);
    EXPECT_EQ(KCSI::linkLayerMACAddressForInterfaceNamed(QStringLiteral("wlan0"), sources), KCHardwareAddress::fromBytes(wifiAddress));
    EXPECT_EQ(KCSI::linkLayerMACAddressForInterfaceNamed(QString(), sources), std::nullopt);
    EXPECT_EQ(KCSI::linkLayerMACAddressForInterfaceNamed(QStringLiteral("wlan9"), sources), std::nullopt);

    KCLogCapture log;
    EXPECT_EQ(KCSI::ioRegistryMACAddressForPrimaryInterfaceNamed(QStringLiteral("../../etc"), sources), std::nullopt);
    EXPECT_TRUE(log.contains(QStringLiteral("IOServiceMatching() returned empty dictionary")));
}

TEST(KCDaemonSystemInformation, PrivateAddressComesFromEn0ThenEn1)
{
    struct Case {
        const char *what;
        std::function<void(Fake &)> setup;
        std::optional<QString> expected;
        quint32 expectedRaw;
    };
    const QList<Case> cases = {
        {"the default route's interface is en0", laptop, QStringLiteral("10.0.0.5"), ipv4("10.0.0.5")},
        {"en0 down: en1, the first physical interface",
         [](Fake &fake) {
             laptop(fake);
             fake.interfaceAddressList[3].up = false;
         },
         QStringLiteral("192.168.1.20"),
         ipv4("192.168.1.20")},
        {"no default route: the physical interfaces in index order",
         [](Fake &fake) {
             laptop(fake);
             fake.defaultRoute.reset();
         },
         QStringLiteral("192.168.1.20"),
         ipv4("192.168.1.20")},
        {"nothing up: the first address of en0 or en1 whatever its flags",
         [](Fake &fake) {
             laptop(fake);
             for (KCInterfaceAddress &address : fake.interfaceAddressList)
                 address.up = false;
         },
         QStringLiteral("10.0.0.5"),
         0},
        {"only an interface that is neither en0 nor en1",
         [](Fake &fake) {
             fake.addDevice(QStringLiteral("tun0"), 7, false, false, {}, 65534);
             fake.addInterface(QStringLiteral("tun0"), QStringLiteral("10.8.0.2"), {});
         },
         std::nullopt,
         0},
        {"no interfaces", [](Fake &) {}, std::nullopt, 0},
    };
    for (const Case &c : cases) {
        Fake fake;
        c.setup(fake);
        EXPECT_EQ(KCSI::privateIPAddress(fake.sources()), c.expected) << c.what;
        EXPECT_EQ(KCSI::rawLocalAddress(fake.sources()), c.expectedRaw) << c.what;
    }

    Fake fake;
    laptop(fake);
    fake.addDevice(QStringLiteral("eth1"), 4, true, false, QByteArray::fromHex("001a2b3c4d5f"));
    EXPECT_EQ(KCSI::primaryInterfaceNames(fake.sources()), (QStringList{QStringLiteral("wlan0"), QStringLiteral("eth0")}));
}

TEST(KCDaemonSystemInformation, InterfaceForAnAddressLogsEachAddressItPasses)
{
    Fake fake;
    laptop(fake);
    KCLogCapture log;
    EXPECT_EQ(KCSI::interfaceNameForIPAddress(QStringLiteral("10.0.0.5"), fake.sources()), QStringLiteral("wlan0"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("interface name: eth0; address: 192.168.1.20"),
                                        QStringLiteral("interface name: wlan0; address: 10.0.0.5")}));
    EXPECT_EQ(KCSI::interfaceNameForIPAddress(QStringLiteral("10.0.0.50"), fake.sources()), std::nullopt);
}

TEST(KCDaemonSystemInformation, NeighbourTableLookup)
{
    const QList<KCNeighbour> entries = {
        {ipv4("192.168.1.7"), zeroAddress},
        {ipv4("192.168.1.7"), QByteArray::fromHex("001a2b3c4d5e")},
        {ipv4("192.168.1.8"), QByteArray::fromHex("0011223344556677")},
    };
    struct Case {
        const char *what;
        QString address;
        KCRoutingTables::Error error;
        std::optional<QString> expected;
        QString expectedLog;
    };
    const QList<Case> cases = {
        {"the first valid entry", QStringLiteral("192.168.1.7"), KCRoutingTables::Error::None, QStringLiteral("00:1A:2B:3C:4D:5E"), {}},
        {"an address of the wrong length", QStringLiteral("192.168.1.8"), KCRoutingTables::Error::None, std::nullopt, {}},
        {"no entry", QStringLiteral("192.168.1.9"), KCRoutingTables::Error::None, std::nullopt, {}},
        {"no address", QString(), KCRoutingTables::Error::None, std::nullopt, {}},
        {"the table cannot be asked for", QStringLiteral("192.168.1.7"), KCRoutingTables::Error::RequestFailed, std::nullopt,
         QStringLiteral("error in route-sysctl-estimate")},
        {"the table is too large", QStringLiteral("192.168.1.7"), KCRoutingTables::Error::TooLarge, std::nullopt,
         QStringLiteral("error in malloc")},
        {"the table cannot be read", QStringLiteral("192.168.1.7"), KCRoutingTables::Error::ReadFailed, std::nullopt,
         QStringLiteral("retrieval of routing table")},
    };
    for (const Case &c : cases) {
        Fake fake;
        fake.neighbours = {c.error, c.error == KCRoutingTables::Error::None ? entries : QList<KCNeighbour>{}};
        KCLogCapture log;
        EXPECT_EQ(KCSI::privateIPAddressToMACAddress(c.address, fake.sources()), c.expected) << c.what;
        EXPECT_EQ(log.lines(), c.expectedLog.isEmpty() ? QStringList() : QStringList{c.expectedLog}) << c.what;
    }
}

TEST(KCDaemonSystemInformation, ListeningPorts)
{
    struct Case {
        const char *what;
        std::optional<QString> listener;
        QMap<QString, quint16> services;
        quint16 expectedSsh;
    };
    const QMap<QString, quint16> standard = {{QStringLiteral("ssh"), 22}};
    const QList<Case> cases = {
        {"nothing configured", std::nullopt, standard, 22},
        {"a port number", QStringLiteral("2222"), standard, 2222},
        {"a port number with blanks", QStringLiteral(" 2222 "), standard, 2222},
        {"a service name", QStringLiteral("ssh"), standard, 22},
        {"a service name the database maps elsewhere", QStringLiteral("ssh"), {{QStringLiteral("ssh"), 2200}}, 2200},
        {"a service name without an entry", QStringLiteral("secure-shell"), standard, 22},
        {"port 0", QStringLiteral("0"), standard, 65535},
        {"a number too large for a port", QStringLiteral("70000"), standard, 65535},
        {"a Unix socket", QStringLiteral("/run/sshd.sock"), standard, 65535},
    };
    for (const Case &c : cases) {
        Fake fake;
        fake.sshListener = c.listener;
        fake.tcpPorts = c.services;
        KCDaemonSystemInformation information(nullptr, std::make_unique<KCFakeDynamicStore>(), fake.sources());
        EXPECT_EQ(information.sshListeningPort(), c.expectedSsh) << c.what;
    }

    Fake fake;
    KCDaemonSystemInformation information(nullptr, std::make_unique<KCFakeDynamicStore>(), fake.sources());
    EXPECT_EQ(information.vncListeningPort(), 5900);
    fake.tcpPorts.insert(QStringLiteral("vnc-server"), 5901);
    EXPECT_EQ(information.vncListeningPort(), 5901);
}

TEST(KCDaemonSystemInformation, NamesFallBack)
{
    struct Case {
        const char *what;
        std::optional<QString> storeComputerName;
        QString kernelHostName;
        std::optional<QString> storeLocalHostName;
        QString expectedComputerName;
        QString expectedLocalHostname;
    };
    const QList<Case> cases = {
        {"both names in the store", QStringLiteral("Anna's Laptop"), QStringLiteral("anna-pc"), QStringLiteral("anna-pc"),
         QStringLiteral("Anna's Laptop"), QStringLiteral("anna-pc.local.")},
        {"no computer name: the kernel's host name", std::nullopt, QStringLiteral("anna-pc"), std::nullopt,
         QStringLiteral("anna-pc"), QStringLiteral("scerrorhostnamenull.local.")},
        {"empty names count as none", QString(), QString(), QString(), QStringLiteral("Macintosh"),
         QStringLiteral("scerrorhostnamenull.local.")},
    };
    for (const Case &c : cases) {
        Fake fake;
        fake.kernelHostName = c.kernelHostName;
        auto store = std::make_unique<KCFakeDynamicStore>();
        store->setComputerName(c.storeComputerName);
        store->setLocalHostName(c.storeLocalHostName);
        KCDaemonSystemInformation information(nullptr, std::move(store), fake.sources());
        EXPECT_EQ(information.computerName(), c.expectedComputerName) << c.what;
        EXPECT_EQ(information.localHostname(), c.expectedLocalHostname) << c.what;
    }
}

namespace {

class RecordingDelegate final : public KCDaemonSystemInformationDelegate {
public:
    void computerNameChanged(const QString &computerName) override { calls.append(QStringLiteral("name ") + computerName); }
    void computerLocalHostnameChanged(const QString &localHostname) override
    {
        calls.append(QStringLiteral("host ") + localHostname);
    }
    void networkConfigurationChanged() override { calls.append(QStringLiteral("network")); }
    QStringList calls;
};

} // namespace

TEST(KCDaemonSystemInformation, TellsTheDelegateWhatChangedInOrder)
{
    Fake fake;
    RecordingDelegate delegate;
    auto owned = std::make_unique<KCFakeDynamicStore>();
    KCFakeDynamicStore *store = owned.get();
    store->setComputerName(QStringLiteral("Old"));
    store->setLocalHostName(QStringLiteral("old"));
    KCDaemonSystemInformation information(&delegate, std::move(owned), fake.sources());

    store->setComputerName(QStringLiteral("New"));
    store->setLocalHostName(QStringLiteral("new"));
    store->notify(KCDynamicStoreKey::GlobalIPv4 | KCDynamicStoreKey::HostNames | KCDynamicStoreKey::ComputerName);
    EXPECT_EQ(delegate.calls, (QStringList{QStringLiteral("name New"), QStringLiteral("host new.local."), QStringLiteral("network")}));
    EXPECT_EQ(information.computerName(), QStringLiteral("New"));
    EXPECT_EQ(information.localHostname(), QStringLiteral("new.local."));

    delegate.calls.clear();
    store->setLocalHostName(std::nullopt);
    store->notify(KCDynamicStoreKey::GlobalIPv4);
    EXPECT_EQ(delegate.calls, QStringList{QStringLiteral("network")});
    EXPECT_EQ(information.localHostname(), QStringLiteral("new.local.")) << "a key that did not change is not read again";

    store->notify(KCDynamicStoreKey::HostNames);
    EXPECT_EQ(delegate.calls.last(), QStringLiteral("host scerrorhostnamenull.local."));
}
