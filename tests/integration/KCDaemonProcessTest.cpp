#include "KCDaemonProcess.h"
#include "KCPrivateSystemBus.h"
#include "KCTestUtils.h"

#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QString SettingsFile = QStringLiteral("com.fendrel.kovra.connect.json");

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

class KCDaemonProcessTest : public ::testing::Test {
protected:
    QString stateDir() const { return QDir(scratch.path()).filePath(QStringLiteral("state")); }
    // A configuration for a run in the scratch folder; "@STATE@" in the content is its state
    // folder, "@SCRATCH@" the scratch folder itself.
    QString configFile(QByteArray content = "[Service]\nBaseURL=http://127.0.0.1:9/app/6.0\n[Daemon]\nStateDirectory=@STATE@\n") const
    {
        const QString path = QDir(scratch.path()).filePath(QStringLiteral("daemon.conf"));
        EXPECT_TRUE(writeFile(path, content.replace("@STATE@", stateDir().toUtf8()).replace("@SCRATCH@", scratch.path().toUtf8())));
        return path;
    }
    // The private system bus the daemon is reached on.
    QString startBus()
    {
        EXPECT_TRUE(bus.start()) << bus.error().toStdString();
        return bus.address();
    }
    QJsonObject storedValues() const
    {
        QFile file(QDir(stateDir()).filePath(SettingsFile));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("values")).toObject();
    }

    QTemporaryDir scratch;
    KCPrivateSystemBus bus;
};

} // namespace

TEST_F(KCDaemonProcessTest, WritesPrivateSettingsWithEveryKeyAndEndsWithZeroOnSignal)
{
    KC_REQUIRE_ROOT();
    const struct {
        const char *name;
        int signal;
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}};
    const QString busAddress = startBus();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(stateDir()).removeRecursively();
        KCDaemonProcess daemon({QStringLiteral("--config"), configFile()}, scratch.path(), nullptr, busAddress);
        ASSERT_TRUE(daemon.started()) << daemon.error().toStdString();
        ASSERT_TRUE(daemon.waitForStandardError(QStringLiteral("0 accounts found. ()"))) << daemon.standardError().toStdString();
        // Once it listens, the daemon says where.
        ASSERT_TRUE(daemon.waitForStandardError(QStringLiteral("Listener: com.fendrel.kovra.connect, object /com/fendrel/kovra/connect, on the system bus as :")))
            << daemon.standardError().toStdString();

        const QJsonObject values = storedValues();
        const struct {
            const char *key;
            const char *kind;
        } keys[] = {
            {"UseSSH", "bool"},          {"PreventSleep", "bool"},          {"ManualMode", "integer"},
            {"CustomPort", "integer"},   {"KCServiceLastLocalPorts", "dictionary"}, {"LastKeyboardLocale", "string"},
            {"HotKeys", "string"},       {"RouterInfo", "string"},          {"VersionInfo", "string"},
            {"vncPort", "integer"},      {"sshPort", "integer"},            {"UUID", "string"},
            {"CustomAddress", "string"},
        };
        for (const auto &k : keys) {
            EXPECT_TRUE(values.value(QLatin1String(k.key)).toObject().contains(QLatin1String(k.kind)))
                << k.key << " should hold a " << k.kind << " in " << QJsonDocument(values).toJson().toStdString();
        }
        const QString uuid = values.value(QStringLiteral("UUID")).toObject().value(QStringLiteral("string")).toString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(uuid).hasMatch()) << uuid.toStdString();
        EXPECT_EQ(modeOf(stateDir()), 0700u);
        for (const QString &name : QDir(stateDir()).entryList(QDir::Files | QDir::Hidden))
            EXPECT_EQ(modeOf(QDir(stateDir()).filePath(name)), 0600u) << name.toStdString();

        daemon.sendSignal(c.signal);
        ASSERT_TRUE(daemon.waitForExit());
        EXPECT_EQ(daemon.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(daemon.exitCode(), 0);
    }
}

TEST_F(KCDaemonProcessTest, StartsFromADamagedSettingsFileAndReadsTheStoredAccounts)
{
    KC_REQUIRE_ROOT();
    ASSERT_TRUE(QDir().mkpath(stateDir()));
    ASSERT_TRUE(writeFile(QDir(stateDir()).filePath(SettingsFile), "{\"version\": 1, \"values\": {\"UUID\": "));
    ASSERT_TRUE(writeFile(QDir(stateDir()).filePath(QStringLiteral("system-keychain.json")),
                          R"({"version": 1, "items": [
                              {"class": "genp", "service": "com.fendrel.kovra.connect.tool", "account": "alice", "password": "a"},
                              {"class": "genp", "service": "com.fendrel.kovra.connect.tool", "account": "bob", "password": "b"}]})"));

    KCDaemonProcess daemon({QStringLiteral("--config"), configFile()}, scratch.path(), nullptr, startBus());
    ASSERT_TRUE(daemon.started()) << daemon.error().toStdString();
    ASSERT_TRUE(daemon.waitForStandardError(QStringLiteral("2 accounts found. (alice, bob)"))) << daemon.standardError().toStdString();
    EXPECT_TRUE(daemon.standardError().contains(QStringLiteral("is damaged"))) << daemon.standardError().toStdString();
    EXPECT_EQ(QDir(stateDir()).entryList({SettingsFile + QStringLiteral(".damaged-*")}, QDir::Files).size(), 1);
    EXPECT_TRUE(storedValues().contains(QStringLiteral("UUID")));

    daemon.sendSignal(SIGTERM);
    ASSERT_TRUE(daemon.waitForExit());
    EXPECT_EQ(daemon.exitCode(), 0);
}

TEST_F(KCDaemonProcessTest, VersionAndHelpNeedNoConfiguration)
{
    KCDaemonProcess version({QStringLiteral("--version")}, scratch.path());
    ASSERT_TRUE(version.started()) << version.error().toStdString();
    ASSERT_TRUE(version.waitForExit());
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.standardOutput(), QStringLiteral("3.9.0\n"));

    KCDaemonProcess help({QStringLiteral("--help")}, scratch.path());
    ASSERT_TRUE(help.waitForExit());
    EXPECT_EQ(help.exitCode(), 0);
    for (const char *option : {"--config <FILE>", "--version", "--help"})
        EXPECT_TRUE(help.standardOutput().contains(QLatin1String(option))) << help.standardOutput().toStdString();
}

TEST_F(KCDaemonProcessTest, MalformedConfigurationOrUsageExitsTwoAndWritesNothing)
{
    const struct {
        const char *name;
        QByteArray content;
        QStringList arguments; // empty: --config with the file
        const char *message;
    } cases[] = {
        {"base URL of another service", "[Service]\nBaseURL=https://example.org/app/5.0\n[Daemon]\nStateDirectory=@STATE@\n", {}, "[Service] BaseURL"},
        {"unreadable CA file", "[Service]\nCAFile=/nonexistent/ca.pem\n[Daemon]\nStateDirectory=@STATE@\n", {}, "[Service] CAFile"},
        {"CA file without a certificate", "[Service]\nCAFile=@SCRATCH@/not-a-certificate.pem\n[Daemon]\nStateDirectory=@STATE@\n", {},
         "Cannot use the certificate authority file @SCRATCH@/not-a-certificate.pem: The certificate authority file holds no certificate."},
        {"relative state folder", "[Daemon]\nStateDirectory=relative/state\n", {}, "[Daemon] StateDirectory"},
        {"configuration file that is not there", "", {QStringLiteral("--config"), QStringLiteral("/nonexistent/daemon.conf")}, "no such file"},
        {"unknown option", "", {QStringLiteral("--verbose")}, "Unknown option 'verbose'"},
        {"stray argument", "", {QStringLiteral("start")}, "Unexpected argument: start"},
    };
    ASSERT_TRUE(writeFile(QDir(scratch.path()).filePath(QStringLiteral("not-a-certificate.pem")), "-----BEGIN NOTHING-----\n"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString config = configFile(c.content);
        KCDaemonProcess daemon(c.arguments.isEmpty() ? QStringList{QStringLiteral("--config"), config} : c.arguments, scratch.path());
        ASSERT_TRUE(daemon.started()) << daemon.error().toStdString();
        ASSERT_TRUE(daemon.waitForExit());
        EXPECT_EQ(daemon.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(daemon.exitCode(), 2);
        const QString message = QString::fromUtf8(c.message).replace(QStringLiteral("@SCRATCH@"), scratch.path());
        EXPECT_TRUE(daemon.standardError().contains(message)) << daemon.standardError().toStdString();
        EXPECT_FALSE(QFileInfo::exists(stateDir()));
    }
}

TEST_F(KCDaemonProcessTest, UnreachableOnTheBusItEndsWithOneBeforeWritingAnything)
{
    KC_REQUIRE_ROOT();
    const QString busAddress = startBus();
    // Another process holds the daemon's name, as a daemon already running would.
    QDBusConnection holder = bus.connect();
    ASSERT_TRUE(holder.registerService(QStringLiteral("com.fendrel.kovra.connect"))) << holder.lastError().message().toStdString();

    const struct {
        const char *name;
        QString busAddress;
        const char *message;
    } cases[] = {
        {"no system bus", QString(), "Cannot connect to the system bus: "},
        {"name already owned", busAddress, "Another process already owns com.fendrel.kovra.connect on the system bus"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KCDaemonProcess daemon({QStringLiteral("--config"), configFile()}, scratch.path(), nullptr, c.busAddress);
        ASSERT_TRUE(daemon.started()) << daemon.error().toStdString();
        ASSERT_TRUE(daemon.waitForExit());
        EXPECT_EQ(daemon.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(daemon.exitCode(), 1);
        EXPECT_TRUE(daemon.standardError().contains(QLatin1String(c.message))) << daemon.standardError().toStdString();
        EXPECT_FALSE(QFileInfo::exists(stateDir()));
    }
}
