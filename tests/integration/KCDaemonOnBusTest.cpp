// The daemon executable on a private system bus, called by clients as the applications call it:
// accounts, settings and status over the bus, polkit's say for other users, call-backs to the most
// recent client, and a restart under a connected client.

#include "KCDaemonOnPrivateBus.h"
#include "KCDaemonVocabulary.h"
#include "KCFakePolkitControl.h"
#include "KCRecordingHelperToolClient.h"
#include "KCTestUtils.h"

#include <QDir>
#include <QFile>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");
const QString UpdateEndpoint = QStringLiteral("/computer/update.php");
const QString SignOutEndpoint = QStringLiteral("/computer/signout.php");

bool hasAccount(const QVariantMap &status, const QString &account)
{
    return status.value(KCDaemonStatusAccounts).toMap().contains(account);
}

class KCDaemonOnBusTest : public ::testing::Test {
protected:
    void SetUp() override { KC_REQUIRE_ROOT(); }

    void start(const KCDaemonOnPrivateBus::Options &options = {})
    {
        QString error;
        ASSERT_TRUE(world.start(options, &error)) << error.toStdString();
    }

    // Runs the bus client for one call, as that user, and returns its answer line.
    QString callAs(const std::optional<KCTestUser> &user, const QStringList &arguments)
    {
        const auto caller = world.bus.startProgram(KCPrivateSystemBus::fakeProgram(QStringLiteral("kc_test_bus_client")), arguments, user);
        if (!caller)
            return QStringLiteral("not started");
        const auto answer = caller->waitForLine(QStringLiteral(" 1 "));
        return answer.value_or(QStringLiteral("no answer: ") + caller->lines().join(QLatin1Char('|')));
    }

    // What a caller can change: the settings and accounts the daemon reports, and its files.
    struct State {
        QVariantMap settings;
        QStringList accounts;
        QByteArray settingsFile;
        QByteArray keychainFile;
        qsizetype signOuts = 0;
        bool operator==(const State &) const = default;
    };
    State state(KCRecordingHelperToolClient &root)
    {
        const QVariantMap status = root.getSettings().value_or(QVariantMap());
        const auto read = [&](const QString &name) {
            QFile file(QDir(world.stateDirectory()).filePath(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        return {status.value(KCDaemonStatusSettings).toMap(), status.value(KCDaemonStatusAccounts).toMap().keys(),
                read(QStringLiteral("com.fendrel.kovra.connect.json")), read(QStringLiteral("system-keychain.json")),
                world.service().requests(SignOutEndpoint).size()};
    }

    KCDaemonOnPrivateBus world;
};

} // namespace

TEST_F(KCDaemonOnBusTest, AClientAddsAnAccountSeesItsStatusChangesSettingsAndRemovesIt)
{
    start();
    KCRecordingHelperToolClient client;
    EXPECT_EQ(client.getVersion(), QStringLiteral("3.9.0"));
    // No account yet: the short status, exactly three entries.
    const auto empty = client.getSettings();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->keys(), QStringList({KCDaemonSettingsUUID, KCDaemonStatusPortMapping, KCDaemonStatusSettings}));
    EXPECT_EQ(empty->value(KCDaemonStatusPortMapping), KCDaemonStatusNoAccounts);

    EXPECT_EQ(client.addKovraConnectAccount(Alice, QStringLiteral("pw+a")), std::make_pair(true, Alice));
    ASSERT_TRUE(client.waitForEvent(QStringLiteral("Added account (%1)").arg(Alice)));
    ASSERT_TRUE(client.waitForStatus([](const QVariantMap &status) { return hasAccount(status, Alice); }));
    ASSERT_TRUE(world.service().waitForRequests(UpdateEndpoint, 1)) << world.daemon().standardError().toStdString();
    EXPECT_EQ(world.service().requests(UpdateEndpoint).first().value(QStringLiteral("form")).toObject().value(QStringLiteral("kovraID")).toArray().first().toString(),
              Alice);

    // A version alone goes out in an update; a port out of range is ignored, with the reason
    // told to the client; everything else of the request still applies.
    EXPECT_EQ(client.userSettingsChanged({{KCDaemonSettingsVersionInfo, QStringLiteral("6.1.0")}}), true);
    ASSERT_TRUE(client.waitForEvent(QStringLiteral("Sending update to server (settings) ...")));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto updates = world.service().requests(UpdateEndpoint);
        return !updates.isEmpty() && KCServiceInNamespace::field(updates.last(), QStringLiteral("versionInfo")) == QStringLiteral("6.1.0");
    }, 30000));
    EXPECT_EQ(client.userSettingsChanged({{KCDaemonSettingsCustomPort, qint64(70000)}, {KCDaemonSettingsUseSSH, true}}), true);
    ASSERT_TRUE(client.waitForEvent(QStringLiteral("Ignoring invalid custom port: 70000")));
    ASSERT_TRUE(client.waitForEvent(QStringLiteral("Refreshing port mappings (settings) ...")));
    const auto changed = client.getSettings();
    ASSERT_TRUE(changed);
    const QVariantMap settings = changed->value(KCDaemonStatusSettings).toMap();
    EXPECT_EQ(settings.value(KCDaemonSettingsUseSSH), true);
    EXPECT_EQ(settings.value(KCDaemonSettingsCustomPort).toLongLong(), 0);
    EXPECT_EQ(settings.value(KCDaemonSettingsVersionInfo), QStringLiteral("6.1.0"));

    EXPECT_EQ(client.removeKovraConnectAccount(Alice), std::make_pair(true, Alice));
    ASSERT_TRUE(world.service().waitForRequests(SignOutEndpoint, 1));
    EXPECT_EQ(KCServiceInNamespace::field(world.service().requests(SignOutEndpoint).first(), QStringLiteral("kovraID")), Alice);
    ASSERT_TRUE(client.waitForStatus([](const QVariantMap &status) { return status.value(KCDaemonStatusPortMapping) == KCDaemonStatusNoAccounts; }));
    EXPECT_EQ(client.removeKovraConnectAccount(Alice), std::make_pair(false, QString()));
}

TEST_F(KCDaemonOnBusTest, OversizedSettingsAndArgumentsOfTheWrongTypeChangeNothing)
{
    start({.accounts = {{Alice, QStringLiteral("pw")}}});
    KCRecordingHelperToolClient root;
    const State before = state(root);
    const struct {
        const char *name;
        QStringList arguments;
        const char *error;
    } cases[] = {
        {"a settings change of more than a megabyte", {QStringLiteral("userSettingsChanged"), QStringLiteral("bigsettings:600000")},
         "error 1 org.freedesktop.DBus.Error.InvalidArgs"},
        {"a password of the wrong type", {QStringLiteral("addKovraConnectAccount"), QStringLiteral("s:bob@example.com"), QStringLiteral("x:5")},
         "error 1 org.freedesktop.DBus.Error."},
        {"a settings change that is no dictionary", {QStringLiteral("userSettingsChanged"), QStringLiteral("s:UseSSH")},
         "error 1 org.freedesktop.DBus.Error."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(callAs(std::nullopt, c.arguments).startsWith(QLatin1String(c.error)));
    }
    EXPECT_EQ(state(root), before);
}

TEST_F(KCDaemonOnBusTest, PolkitDecidesForOtherUsersAndARefusedOneChangesNothing)
{
    const auto allowed = KCPrivateSystemBus::testUser();
    const auto refused = KCPrivateSystemBus::secondTestUser();
    if (!allowed || !refused)
        GTEST_SKIP() << "needs the users nobody and daemon";
    start({.accounts = {{Alice, QStringLiteral("pw")}}});
    KCFakePolkitControl polkit(world.control);
    ASSERT_TRUE(polkit.setAnswer(QString(), allowed->uid, QStringLiteral("allow")));
    ASSERT_TRUE(polkit.setAnswer(QString(), refused->uid, QStringLiteral("deny")));

    EXPECT_EQ(callAs(allowed, {QStringLiteral("addKovraConnectAccount"), QStringLiteral("s:") + Bob, QStringLiteral("s:pw-b")}),
              QStringLiteral("reply 1 true ") + Bob);
    KCRecordingHelperToolClient root;
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasAccount(root.getSettings().value_or(QVariantMap()), Bob); }, 30000));

    const State before = state(root);
    const QList<QStringList> calls{
        {QStringLiteral("getSettings")},
        {QStringLiteral("getVersion")},
        {QStringLiteral("queryPortMappingStatus")},
        {QStringLiteral("addKovraConnectAccount"), QStringLiteral("s:carol@example.com"), QStringLiteral("s:pw-c")},
        {QStringLiteral("removeKovraConnectAccount"), QStringLiteral("s:") + Alice},
        {QStringLiteral("userSettingsChanged"), QStringLiteral("a{sv}:{\"KCDaemonSettingsUseSSH\":true,\"KCDaemonSettingsPreventSleep\":true}")},
        {QStringLiteral("uninstall")},
    };
    for (const QStringList &call : calls) {
        SCOPED_TRACE(call.first().toStdString());
        EXPECT_TRUE(callAs(refused, call).startsWith(QStringLiteral("error 1 org.freedesktop.DBus.Error.AccessDenied")));
    }
    EXPECT_EQ(state(root), before);
    // Each refusal was polkit's, asked about the caller's own bus name.
    int refusedChecks = 0;
    for (const QVariant &request : polkit.requests())
        refusedChecks += request.toMap().value(QStringLiteral("uid")).toLongLong() == refused->uid ? 1 : 0;
    EXPECT_EQ(refusedChecks, calls.size());
}

TEST_F(KCDaemonOnBusTest, CallBacksFollowTheMostRecentClientAsClientsComeAndGo)
{
    start();
    KCRecordingHelperToolClient first;
    auto second = std::make_unique<KCRecordingHelperToolClient>();
    ASSERT_TRUE(first.getVersion());
    ASSERT_TRUE(second->getVersion());

    // The first calls again and keeps its place: the second gets the call-backs.
    EXPECT_EQ(first.addKovraConnectAccount(Alice, QStringLiteral("pw")), std::make_pair(true, Alice));
    ASSERT_TRUE(second->waitForStatus([](const QVariantMap &status) { return hasAccount(status, Alice); }));
    ASSERT_TRUE(second->waitForEvent(QStringLiteral("Added account (%1)").arg(Alice)));
    EXPECT_TRUE(first.statuses.isEmpty());
    EXPECT_TRUE(first.events.isEmpty());

    // Once the second leaves, the first gets them again.
    second.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        first.addKovraConnectAccount(Bob, QStringLiteral("pw-b"));
        return first.waitForEvent(QStringLiteral("Added account (%1)").arg(Bob), 1000);
    }, 30000));
    ASSERT_TRUE(first.waitForStatus([](const QVariantMap &status) { return hasAccount(status, Bob); }));
}

TEST_F(KCDaemonOnBusTest, AfterARestartTheClientsNextRequestReachesTheNewDaemon)
{
    start();
    KCRecordingHelperToolClient client;
    ASSERT_EQ(client.getVersion(), QStringLiteral("3.9.0"));
    ASSERT_EQ(client.userSettingsChanged({{KCDaemonSettingsVersionInfo, QStringLiteral("6.1.0")}}), true);

    QString error;
    ASSERT_TRUE(world.restartDaemon(&error)) << error.toStdString();
    // The client forgets its connection once it sees the daemon's name change owner.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client.isConnected(); }, 30000));
    const auto settings = client.getSettings();
    ASSERT_TRUE(settings) << client.lastError.localizedDescription().toStdString();
    EXPECT_EQ(settings->value(KCDaemonStatusSettings).toMap().value(KCDaemonSettingsVersionInfo), QStringLiteral("6.1.0"));
    // The new daemon took the client as its own with that request.
    EXPECT_EQ(client.addKovraConnectAccount(Alice, QStringLiteral("pw")), std::make_pair(true, Alice));
    EXPECT_TRUE(client.waitForEvent(QStringLiteral("Added account (%1)").arg(Alice)));
}

TEST_F(KCDaemonOnBusTest, UninstallSignsOutEveryAccountAndTheDaemonRunsOn)
{
    start({.accounts = {{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}}});
    KCRecordingHelperToolClient client;
    EXPECT_EQ(client.uninstall(), true);
    ASSERT_TRUE(world.service().waitForRequests(SignOutEndpoint, 2));
    QStringList signedOut;
    for (const QJsonObject &request : world.service().requests(SignOutEndpoint))
        signedOut.append(KCServiceInNamespace::field(request, QStringLiteral("kovraID")));
    signedOut.sort();
    EXPECT_EQ(signedOut, QStringList({Alice, Bob}));
    const auto status = client.getSettings();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value(KCDaemonStatusPortMapping), KCDaemonStatusNoAccounts);
}
