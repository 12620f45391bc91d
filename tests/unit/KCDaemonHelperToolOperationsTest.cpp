// The daemon's answers to its clients' requests, on the application object with fakes around it:
// accounts added and removed, the status, the settings change and the daemon's own removal.

#include "KCBuildInfo.h"
#include "KCDaemonKeychainAccess.h"
#include "KCDaemonOrchestrationSupport.h"
#include "KCTestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <functional>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");

const QString RefreshEvent = QStringLiteral("Refreshing port mappings (settings) ...");
const QString UpdateEvent = QStringLiteral("Sending update to server (settings) ...");

class KCDaemonHelperToolOperationsTest : public KCDaemonFixture {
protected:
    // One account, mapped, with the service's answer to the first update in.
    void startMapped()
    {
        startWith({{Alice, QStringLiteral("pw-a")}});
        mapEveryAccount();
        ASSERT_TRUE(waitForUpdateAnswers(1));
        client.clear();
    }
};

} // namespace

TEST_F(KCDaemonHelperToolOperationsTest, AddedAccountIsStoredAndMappedAndAFailedOneIsNot)
{
    startWith({});
    EXPECT_EQ(daemon->getVersion(), QStringLiteral("3.9.0"));
    // With no account, the status is the short one.
    EXPECT_EQ(daemon->getSettings().keys(), QStringList({KCDaemonSettingsUUID, KCDaemonStatusPortMapping, KCDaemonStatusSettings}));

    // A user without a password is let in too.
    const auto added = daemon->addKovraConnectAccount(Alice, QString());
    EXPECT_TRUE(added.success);
    EXPECT_EQ(added.account, Alice);
    EXPECT_EQ(KCDaemonKeychainAccessCopyPassword(keychain, Alice), QString());
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountUpdating);
    EXPECT_EQ(client.eventCount(QStringLiteral("Added account (%1)").arg(Alice)), 1);
    ASSERT_NE(mapperFor(*daemon, Alice), nullptr);
    EXPECT_EQ(mapperFor(*daemon, Alice)->attempts, QList<uint16_t>{5900});

    const auto query = daemon->queryPortMappingStatus();
    EXPECT_TRUE(query.success);
    EXPECT_EQ(query.status.value(KCDaemonStatusAccounts).toMap().value(Alice), KCDaemonStatusAccountUpdating);
    EXPECT_EQ(daemon->getSettings(), query.status);

    keychain.writeStatus = KCKeychainStatusCode::IOError;
    const int mappersBefore = mappers.createdCount;
    const auto refused = daemon->addKovraConnectAccount(Bob, QStringLiteral("pw-b"));
    EXPECT_FALSE(refused.success);
    EXPECT_TRUE(refused.account.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("Add KC Account failed")));
    EXPECT_FALSE(daemon->accountStatus().contains(Bob));
    EXPECT_EQ(mappers.createdCount, mappersBefore);
}

TEST_F(KCDaemonHelperToolOperationsTest, RemovedAccountIsSignedOutAndAnUnknownOneIsRefused)
{
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    const auto removed = daemon->removeKovraConnectAccount(Alice);
    EXPECT_TRUE(removed.success);
    EXPECT_EQ(removed.account, Alice);
    ASSERT_TRUE(waitForRequestsTo(SignOutEndpoint, 1));
    EXPECT_EQ(service.requests(SignOutEndpoint).first().field(QStringLiteral("kovraID")), Alice);
    EXPECT_EQ(daemon->accountStatus().keys(), QStringList{Bob});
    EXPECT_EQ(mapperFor(*daemon, Alice), nullptr);

    const auto unknown = daemon->removeKovraConnectAccount(QStringLiteral("carol@example.com"));
    EXPECT_FALSE(unknown.success);
    EXPECT_TRUE(unknown.account.isEmpty());
    EXPECT_EQ(daemon->accountStatus().keys(), QStringList{Bob});
}

namespace {

enum class Followed { Refresh, Update, Neither };

struct SettingsChangeCase {
    const char *name;
    // Stored before the daemon starts.
    QVariantMap stored;
    QVariantMap change;
    Followed followed;
    // Events the change must send besides the refresh or update one.
    QStringList events;
    // What the settings hold afterwards, in memory and in the store.
    std::function<void(const KCDaemonSettings &)> check;
};

std::ostream &operator<<(std::ostream &out, const SettingsChangeCase &c)
{
    return out << c.name;
}

const QString SshKey = KCDaemonSettingsStoreKey::UseSSH;

const SettingsChangeCase settingsChangeCases[] = {
    {"version only: an update, no refresh", {}, {{KCDaemonSettingsVersionInfo, QStringLiteral("6.1.0")}}, Followed::Update, {},
     [](const KCDaemonSettings &s) { EXPECT_EQ(s.versionInfo(), QStringLiteral("6.1.0")); }},
    {"prevent sleep only: neither", {}, {{KCDaemonSettingsPreventSleep, true}}, Followed::Neither, {},
     [](const KCDaemonSettings &s) { EXPECT_TRUE(s.preventSleep()); }},
    {"prevent sleep with secure shell: a refresh", {}, {{KCDaemonSettingsPreventSleep, true}, {KCDaemonSettingsUseSSH, true}},
     Followed::Refresh, {}, [](const KCDaemonSettings &s) { EXPECT_TRUE(s.useSSH() && s.preventSleep()); }},
    {"prevent sleep with a version: neither", {}, {{KCDaemonSettingsPreventSleep, true}, {KCDaemonSettingsVersionInfo, QStringLiteral("6.1.0")}},
     Followed::Neither, {}, [](const KCDaemonSettings &s) { EXPECT_EQ(s.versionInfo(), QStringLiteral("6.1.0")); }},
    {"empty: a refresh", {}, {}, Followed::Refresh, {}, [](const KCDaemonSettings &) {}},
    {"values as they are: a refresh", {},
     {{KCDaemonSettingsRouterInfo, QStringLiteral("N/A")}, {KCDaemonSettingsUseSSH, false}, {KCDaemonSettingsLocalVncPort, 5900}},
     Followed::Refresh, {}, [](const KCDaemonSettings &) {}},
    {"router description, then a port: the port wins", {},
     {{KCDaemonSettingsRouterInfo, QStringLiteral("Acme AX-3000,192.168.1.1,")}, {KCDaemonSettingsLocalSshPort, qint64(2222)}},
     Followed::Refresh, {}, [](const KCDaemonSettings &s) {
         EXPECT_EQ(s.routerInfo(), QStringLiteral("Acme AX-3000,192.168.1.1,"));
         EXPECT_EQ(s.sshPort(), 2222);
     }},
    {"custom port 70000: ignored", {{KCDaemonSettingsStoreKey::CustomPort, qint64(4242)}}, {{KCDaemonSettingsCustomPort, qint64(70000)}},
     Followed::Refresh, {QStringLiteral("Ignoring invalid custom port: 70000")},
     [](const KCDaemonSettings &s) { EXPECT_EQ(s.customPort(), 4242); }},
    {"custom port -1: ignored", {}, {{KCDaemonSettingsCustomPort, -1}}, Followed::Refresh, {QStringLiteral("Ignoring invalid custom port: -1")},
     [](const KCDaemonSettings &s) { EXPECT_EQ(s.customPort(), 0); }},
    {"custom port 0 in manual mode with secure shell: 22", {{SshKey, true}},
     {{KCDaemonSettingsManualMode, qint64(1)}, {KCDaemonSettingsCustomPort, 0}}, Followed::Refresh, {},
     [](const KCDaemonSettings &s) { EXPECT_EQ(s.customPort(), 22); }},
    {"custom port 0 in manual mode with screen sharing: 5900", {{KCDaemonSettingsStoreKey::ManualMode, 1}, {KCDaemonSettingsStoreKey::CustomPort, 4242}},
     {{KCDaemonSettingsCustomPort, 0.0}}, Followed::Refresh, {}, [](const KCDaemonSettings &s) { EXPECT_EQ(s.customPort(), 5900); }},
    {"custom port 0 in automatic mode: 0", {{KCDaemonSettingsStoreKey::CustomPort, 4242}}, {{KCDaemonSettingsCustomPort, 0}}, Followed::Refresh, {},
     [](const KCDaemonSettings &s) { EXPECT_EQ(s.customPort(), 0); }},
    {"mode 7 while manual: automatic", {{KCDaemonSettingsStoreKey::ManualMode, 1}}, {{KCDaemonSettingsManualMode, 7}}, Followed::Refresh, {},
     [](const KCDaemonSettings &s) { EXPECT_EQ(s.manualMode(), 2); }},
    {"mode 1 while automatic: manual, with the address", {},
     {{KCDaemonSettingsManualMode, 1.0}, {KCDaemonSettingsCustomAddress, QStringLiteral("kc.example.net")}}, Followed::Refresh, {},
     [](const KCDaemonSettings &s) {
         EXPECT_EQ(s.manualMode(), 1);
         EXPECT_EQ(s.customAddress(), QStringLiteral("kc.example.net"));
     }},
    {"local ports out of range: ignored", {},
     {{KCDaemonSettingsLocalVncPort, 0}, {KCDaemonSettingsLocalSshPort, qint64(65536)}}, Followed::Refresh,
     {QStringLiteral("Ignoring invalid local VNC port: 0"), QStringLiteral("Ignoring invalid local SSH port: 65536")},
     [](const KCDaemonSettings &s) {
         EXPECT_EQ(s.vncPort(), 5900);
         EXPECT_EQ(s.sshPort(), 22);
     }},
    {"numbers of any kind", {},
     {{KCDaemonSettingsUseSSH, qint64(1)}, {KCDaemonSettingsLocalVncPort, 5901.7}, {KCDaemonSettingsLocalSshPort, QVariant::fromValue<quint16>(2200)}},
     Followed::Refresh, {}, [](const KCDaemonSettings &s) {
         EXPECT_TRUE(s.useSSH());
         EXPECT_EQ(s.vncPort(), 5901);
         EXPECT_EQ(s.sshPort(), 2200);
     }},
    {"wrong kinds and unknown keys: ignored", {},
     {{KCDaemonSettingsUseSSH, QStringLiteral("true")}, {KCDaemonSettingsPreventSleep, QStringLiteral("1")},
      {KCDaemonSettingsVersionInfo, 7}, {KCDaemonSettingsManualMode, QStringLiteral("1")}, {KCDaemonSettingsCustomPort, QStringLiteral("70000")},
      {KCDaemonSettingsCustomAddress, QVariantList{QStringLiteral("kc.example.net")}},
      {KCDaemonSettingsUUID, QStringLiteral("0123456789ABCDEF0123456789ABCDEF")},
      {KCDaemonSettingsKCServiceLastLocalPorts, QVariantMap{{QStringLiteral("vnc"), 1}}}, {QStringLiteral("Unknown"), 1}},
     Followed::Refresh, {}, [](const KCDaemonSettings &s) {
         EXPECT_FALSE(s.useSSH());
         EXPECT_FALSE(s.preventSleep());
         EXPECT_EQ(s.versionInfo(), QStringLiteral("N/A"));
         EXPECT_EQ(s.manualMode(), 2);
         EXPECT_EQ(s.customAddress(), QString());
         EXPECT_NE(s.UUID(), QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
         EXPECT_TRUE(s.kcServiceLastLocalPorts().isEmpty());
     }},
};

class KCDaemonSettingsChangeTest : public KCDaemonHelperToolOperationsTest, public ::testing::WithParamInterface<SettingsChangeCase> {};

} // namespace

TEST_P(KCDaemonSettingsChangeTest, AppliesTheEntriesSavesAndRefreshesOrUpdates)
{
    const SettingsChangeCase &c = GetParam();
    for (auto it = c.stored.cbegin(); it != c.stored.cend(); ++it)
        store.setObject(it.value(), it.key());
    startMapped();
    // Something in memory only: the change saves the settings whatever it holds.
    daemon->settings().setHotKeys(QStringLiteral("unsaved hot keys"));
    const int mappersBefore = mappers.createdCount;
    const qsizetype updatesBefore = updates().size();

    EXPECT_TRUE(daemon->userSettingsChanged(c.change));

    const KCDaemonSettings &settings = daemon->settings();
    c.check(settings);
    // Everything in memory went to the store.
    namespace Key = KCDaemonSettingsStoreKey;
    const std::pair<QString, QVariant> saved[] = {
        {Key::UseSSH, settings.useSSH()},
        {Key::PreventSleep, settings.preventSleep()},
        {Key::ManualMode, settings.manualMode()},
        {Key::CustomAddress, settings.customAddress()},
        {Key::CustomPort, settings.customPort()},
        {Key::LastKeyboardLocale, settings.lastKeyboardLocale()},
        {Key::HotKeys, QStringLiteral("unsaved hot keys")},
        {Key::RouterInfo, settings.routerInfo()},
        {Key::VncPort, settings.vncPort()},
        {Key::SshPort, settings.sshPort()},
        {Key::VersionInfo, settings.versionInfo()},
    };
    for (const auto &[key, value] : saved)
        EXPECT_EQ(KCValue::normalized(store.objectForKey(key)), value) << key.toStdString();

    for (const QString &event : c.events)
        EXPECT_EQ(client.eventCount(event), 1) << event.toStdString();
    EXPECT_EQ(client.eventCount(RefreshEvent), c.followed == Followed::Refresh ? 1 : 0);
    EXPECT_EQ(client.eventCount(UpdateEvent), c.followed == Followed::Update ? 1 : 0);
    EXPECT_EQ(mappers.createdCount, mappersBefore + (c.followed == Followed::Refresh ? 1 : 0));
    if (c.followed == Followed::Update) {
        ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, updatesBefore + 1));
        EXPECT_EQ(updates().last().field(QStringLiteral("versionInfo")), daemon->settings().versionInfo());
    }
    EXPECT_EQ(power.holdsIdleInhibitor(), false) << "the lock is taken later, never within the request";
    processQueuedCalls();
    EXPECT_EQ(power.holdsIdleInhibitor(), daemon->settings().preventSleep());
}

INSTANTIATE_TEST_SUITE_P(Cases, KCDaemonSettingsChangeTest, ::testing::ValuesIn(settingsChangeCases), caseName<SettingsChangeCase>);

namespace {

const QString InstalledExecutable = KCInstalledLibexecDirectory + QStringLiteral("/com.fendrel.kovra.connect");
const QString InstalledUnit = KCInstalledUnitDirectory + QStringLiteral("/com.fendrel.kovra.connect.service");

struct UninstallCase {
    const char *name;
    // Lays out the root folder.
    std::function<void(KCDaemonHelperToolOperationsTest &)> prepare;
    bool reply;
    bool executableLeft;
    bool unitLeft;
};

std::ostream &operator<<(std::ostream &out, const UninstallCase &c)
{
    return out << c.name;
}

class KCDaemonUninstallTest : public KCDaemonHelperToolOperationsTest, public ::testing::WithParamInterface<UninstallCase> {
public:
    QString onDisk(const QString &path) const { return root.path() + path; }
    void place(const QString &path, const QByteArray &content = "installed")
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(onDisk(path)).absolutePath()));
        ASSERT_TRUE(KCTestFiles::writeAll(onDisk(path), content));
    }
};

const UninstallCase uninstallCases[] = {
    {"both ours", [](KCDaemonHelperToolOperationsTest &) {}, true, false, false},
    {"nothing installed", nullptr, true, false, false},
    {"unit listed by dpkg", [](KCDaemonHelperToolOperationsTest &t) {
         static_cast<KCDaemonUninstallTest &>(t).place(QStringLiteral("/var/lib/dpkg/info/kovra-connect.list"),
                                                      ("/.\n/usr\n" + InstalledUnit.toUtf8() + "\n/usr/share/doc/kovra-connect\n"));
     }, true, false, true},
    {"unit listed by dpkg under its merged-/usr alias", [](KCDaemonHelperToolOperationsTest &t) {
         auto &test = static_cast<KCDaemonUninstallTest &>(t);
         // /lib and /usr/lib are one folder, as on Debian since 12.
         QString alias = InstalledUnit;
         ASSERT_TRUE(alias.startsWith(QStringLiteral("/usr/lib/")));
         alias.remove(0, 4);
         ASSERT_TRUE(QFile::link(QStringLiteral("usr/lib"), test.onDisk(QStringLiteral("/lib"))));
         test.place(QStringLiteral("/var/lib/dpkg/info/kovra-connect.list"), alias.toUtf8() + "\n");
     }, true, false, true},
    {"a file of the same name elsewhere in a package", [](KCDaemonHelperToolOperationsTest &t) {
         auto &test = static_cast<KCDaemonUninstallTest &>(t);
         test.place(QStringLiteral("/usr/share/other/com.fendrel.kovra.connect.service"));
         test.place(QStringLiteral("/var/lib/dpkg/info/other.list"), "/usr/share/other/com.fendrel.kovra.connect.service\n");
     }, true, false, false},
    {"executable that cannot be deleted", [](KCDaemonHelperToolOperationsTest &t) {
         auto &test = static_cast<KCDaemonUninstallTest &>(t);
         // A folder with something in it where the executable should be: it cannot be removed as a file.
         ASSERT_TRUE(QFile::remove(test.onDisk(InstalledExecutable)));
         test.place(InstalledExecutable + QStringLiteral("/inside"));
     }, false, true, true},
};

} // namespace

TEST_P(KCDaemonUninstallTest, SignsOutEveryAccountAndDeletesOnlyOurOwnFiles)
{
    const UninstallCase &c = GetParam();
    if (c.prepare) {
        place(InstalledExecutable);
        place(InstalledUnit);
        // The sibling files are not ours to delete.
        place(KCInstalledUnitDirectory + QStringLiteral("/ssh.service"));
        c.prepare(*this);
    }
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    // In memory only, so a save by the uninstall would show.
    daemon->settings().setHotKeys(QStringLiteral("unsaved"));
    QVariantMap settingsBefore = store.storedValues();
    settingsBefore.remove(KCDaemonKeychainAccountListKey);

    EXPECT_EQ(daemon->uninstall(), c.reply);

    ASSERT_TRUE(waitForRequestsTo(SignOutEndpoint, 2));
    QStringList signedOut;
    for (const KCFakeRecordedRequest &request : service.requests(SignOutEndpoint))
        signedOut.append(request.field(QStringLiteral("kovraID")));
    EXPECT_EQ(signedOut, QStringList({Alice, Bob}));
    EXPECT_TRUE(keychain.items.isEmpty());
    EXPECT_TRUE(daemon->accountStatus().isEmpty());
    EXPECT_TRUE(daemon->kcServices().empty());

    if (c.prepare) {
        EXPECT_EQ(QFileInfo::exists(onDisk(InstalledExecutable)), c.executableLeft);
        EXPECT_EQ(QFileInfo::exists(onDisk(InstalledUnit)), c.unitLeft);
        EXPECT_TRUE(QFileInfo::exists(onDisk(KCInstalledUnitDirectory + QStringLiteral("/ssh.service"))));
    }
    QVariantMap settingsAfter = store.storedValues();
    settingsAfter.remove(KCDaemonKeychainAccountListKey);
    EXPECT_EQ(settingsAfter, settingsBefore);
}

INSTANTIATE_TEST_SUITE_P(Cases, KCDaemonUninstallTest, ::testing::ValuesIn(uninstallCases), caseName<UninstallCase>);

TEST_F(KCDaemonHelperToolOperationsTest, ServesItsClientsAtTheEndOfStartUpOrEndsWithOne)
{
    startWith({});
    EXPECT_EQ(listener.operations, daemon.get());
    EXPECT_TRUE(daemon->isListening());
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    EXPECT_EQ(daemon->main(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("Listener: the test's listener")));

    daemon.reset();
    listener.refusal = QStringLiteral("cannot own com.fendrel.kovra.connect: another process owns it");
    daemon = start();
    EXPECT_FALSE(daemon->isListening());
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot serve clients on the system bus: cannot own com.fendrel.kovra.connect: another process owns it")));
    // Returns at once, without running the event loop.
    EXPECT_EQ(daemon->main(), KCDaemonApplicationMain::ListenFailureExitStatus);
}
