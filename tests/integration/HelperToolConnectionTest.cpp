#include "HelperToolConnection.h"
#include "KCFakeHelperToolDaemon.h"
#include "KCFakeTimerSource.h"
#include "KCLogCapture.h"
#include "KCTestDaemonOnBus.h"

#include <QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Records the daemon's call-backs.
class RecordingClient final : public HelperToolConnection {
public:
    using HelperToolConnection::HelperToolConnection;

    QList<QVariantMap> statuses;
    QList<std::pair<QString, KCError>> accountErrors;
    QList<std::pair<KCError, QVariantMap>> updateErrors;
    QStringList events;

protected:
    void portMappingStatusChanged(const QVariantMap &status) override { statuses.append(status); }
    void kovraIdError(const QString &account, const KCError &error) override { accountErrors.append({account, error}); }
    void updateError(const KCError &error, const QVariantMap &response) override { updateErrors.append({error, response}); }
    void logServiceEvent(const QString &message) override { events.append(message); }
};

// What became of one request: how often its failure call-back ran and the replies it got.
struct Outcome {
    int failures = 0;
    QStringList replies;
};

class HelperToolConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KC_REQUIRE_ROOT_FOR_BUS();
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
    }

    // Asks for the daemon's version with that time-out; the reply handler calls `finished` first.
    std::shared_ptr<Outcome> requestVersion(HelperToolConnection &client, double timeout)
    {
        auto outcome = std::make_shared<Outcome>();
        client.performXPCRequestWithName(
            QStringLiteral("getVersion"), timeout, [outcome] { ++outcome->failures; },
            [outcome](const HelperToolServerProxy &proxy, const std::function<void()> &finished) {
                proxy.getVersion([outcome, finished](const QString &version) {
                    finished();
                    outcome->replies.append(version);
                });
            });
        return outcome;
    }

    KCPrivateSystemBus bus;
    KCFakeTimerSource timers;
    KCLogCapture log;
};

TEST(HelperToolConnectionWithTheDaemonTest, TheClientAndTheDaemonServiceUnderstandEachOther)
{
    KC_REQUIRE_ROOT_FOR_BUS();
    KCFakeTimerSource timers;
    KCLogCapture log;
    KCTestDaemonOnBus daemon;
    QString error;
    ASSERT_TRUE(daemon.start(false, &error)) << error.toStdString();
    RecordingClient client(timers);

    std::optional<QVariantMap> settings;
    client.performXPCRequestWithName(QStringLiteral("fetchSettings"), 10, {},
                                     [&](const HelperToolServerProxy &proxy, const std::function<void()> &finished) {
                                         proxy.getSettings([&, finished](const QVariantMap &status) {
                                             finished();
                                             settings = status;
                                         });
                                     });
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.has_value(); }, 30000));
    EXPECT_EQ(*settings, KCRecordingOperations::status());
    const QVariantMap ports = settings->value(QStringLiteral("KCDaemonStatusMappedPorts")).toMap();
    EXPECT_EQ(ports.value(QStringLiteral("a@example.com")).metaType(), QMetaType::fromType<quint16>());

    std::optional<bool> changed;
    const QVariantMap change{{QStringLiteral("KCDaemonSettingsKCServiceLastLocalPorts"),
                              QVariantMap{{QStringLiteral("a@example.com"), qint64(5900)}}}};
    client.performXPCRequestWithName(QStringLiteral("userSettingsChanged"), 10, {},
                                     [&](const HelperToolServerProxy &proxy, const std::function<void()> &finished) {
                                         proxy.userSettingsChanged(change, [&, finished](bool success) {
                                             finished();
                                             changed = success;
                                         });
                                     });
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.has_value(); }, 30000));
    EXPECT_TRUE(*changed);
    EXPECT_EQ(daemon.operations.lastSettings, change);

    // The client was accepted with its first call and now gets the call-backs.
    EXPECT_EQ(daemon.listener->clients().currentClient(), client.uniqueName());
    const KCError accountError = KCError::withFailureReason(KCDaemonErrorDomain, 29, QStringLiteral("Computer unregistered"));
    const QVariantMap response{{QStringLiteral("status"), qint64(29)}};
    daemon.listener->client().portMappingStatusChanged(KCRecordingOperations::status());
    daemon.listener->client().kovraIdError(QStringLiteral("a@example.com"), accountError);
    daemon.listener->client().updateError(accountError, response);
    daemon.listener->client().logServiceEvent(QStringLiteral("Did wake..."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.events.size() == 1; }, 30000));
    EXPECT_EQ(client.statuses, QList<QVariantMap>{KCRecordingOperations::status()});
    EXPECT_EQ(client.accountErrors, (QList<std::pair<QString, KCError>>{{QStringLiteral("a@example.com"), accountError}}));
    EXPECT_EQ(client.updateErrors, (QList<std::pair<KCError, QVariantMap>>{{accountError, response}}));
    EXPECT_EQ(client.events, QStringList{QStringLiteral("Did wake...")});
    EXPECT_EQ(log.count(QStringLiteral("Helper tool error")), 0);
}

TEST_F(HelperToolConnectionTest, WithoutATimeOutOnlyAConnectionErrorFailsTheRequest)
{
    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    daemon.holdReplies = true;
    RecordingClient client(timers);

    const auto outcome = requestVersion(client, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon.calls.size() == 1; }, 30000));
    EXPECT_EQ(timers.activeTimerCount(), 0);
    timers.advance(24h);
    EXPECT_EQ(outcome->failures, 0);

    daemon.leave();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome->failures > 0; }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !client.isConnected(); }, 30000));
    EXPECT_EQ(outcome->failures, 1);
    EXPECT_TRUE(outcome->replies.isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("getVersion - Helper tool error: ")), 1);
    EXPECT_EQ(log.lines().count(QStringLiteral("connection interrupted")) + log.lines().count(QStringLiteral("connection invalidated")), 1);
}

TEST_F(HelperToolConnectionTest, AReplyAfterTheTimeOutIsStillHandled)
{
    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    daemon.holdReplies = true;
    RecordingClient client(timers);

    const auto outcome = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon.calls.size() == 1; }, 30000));
    timers.advance(9999ms);
    EXPECT_EQ(outcome->failures, 0);
    timers.advance(1ms);
    EXPECT_EQ(outcome->failures, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("getVersion - timed out after 10.0 seconds")));

    daemon.answerHeld();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !outcome->replies.isEmpty(); }, 30000));
    EXPECT_EQ(outcome->replies, QStringList{QStringLiteral("3.9.0")});
    EXPECT_EQ(outcome->failures, 1);
    EXPECT_TRUE(client.isConnected());
}

TEST_F(HelperToolConnectionTest, AConnectionErrorAfterTheReplyIsNoFailure)
{
    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    RecordingClient client(timers);

    const auto outcome = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !outcome->replies.isEmpty(); }, 30000));
    daemon.leave();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client.isConnected(); }, 30000));
    timers.advance(1h);
    EXPECT_EQ(outcome->failures, 0);
    EXPECT_EQ(log.count(QStringLiteral("Helper tool error")), 0);
    EXPECT_EQ(log.count(QStringLiteral("timed out")), 0);
    EXPECT_EQ(log.lines().count(QStringLiteral("connection interrupted")), 1);
}

TEST_F(HelperToolConnectionTest, ARequestFromAnotherThreadIsSentFromTheClientsThread)
{
    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    RecordingClient client(timers);

    QThread *executedOn = nullptr;
    std::optional<QString> version;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        client.performXPCRequestWithName(QStringLiteral("getVersion"), 10, {},
                                         [&](const HelperToolServerProxy &proxy, const std::function<void()> &finished) {
                                             executedOn = QThread::currentThread();
                                             proxy.getVersion([&, finished](const QString &v) {
                                                 finished();
                                                 version = v;
                                             });
                                         });
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(30000));
    EXPECT_EQ(executedOn, nullptr) << "the request ran on the calling thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return version.has_value(); }, 30000));
    EXPECT_EQ(executedOn, QThread::currentThread());
    EXPECT_EQ(*version, QStringLiteral("3.9.0"));
}

TEST_F(HelperToolConnectionTest, TheNextRequestReachesARestartedDaemon)
{
    auto first = std::make_unique<KCFakeHelperToolDaemon>(bus, QStringLiteral("first"));
    ASSERT_TRUE(first->start());
    RecordingClient client(timers);
    const auto before = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !before->replies.isEmpty(); }, 30000));
    const QString firstName = client.uniqueName();

    first.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client.isConnected(); }, 30000));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("connection interrupted")));
    KCFakeHelperToolDaemon second(bus, QStringLiteral("second"));
    ASSERT_TRUE(second.start());

    const auto after = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !after->replies.isEmpty(); }, 30000));
    EXPECT_EQ(after->replies, QStringList{QStringLiteral("second")});
    EXPECT_EQ(after->failures, 0);
    // A new connection, so the new daemon takes the client as a new one.
    EXPECT_NE(client.uniqueName(), firstName);
}

TEST_F(HelperToolConnectionTest, WithoutTheDaemonARequestFailsAndTheNextOneTriesAgain)
{
    RecordingClient client(timers);
    const auto failed = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed->failures > 0; }, 30000));
    EXPECT_EQ(log.count(QStringLiteral("getVersion - Helper tool error: org.freedesktop.DBus.Error.ServiceUnknown")), 1);
    EXPECT_TRUE(log.lines().contains(QStringLiteral("connection invalidated")));
    EXPECT_FALSE(client.isConnected());
    timers.advance(1h);
    EXPECT_EQ(failed->failures, 1);

    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    const auto retried = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !retried->replies.isEmpty(); }, 30000));
    EXPECT_EQ(retried->failures, 0);
}

TEST_F(HelperToolConnectionTest, ARefusalFailsTheRequestButKeepsTheConnection)
{
    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    daemon.refuseWith = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
    RecordingClient client(timers);

    const auto outcome = requestVersion(client, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome->failures > 0; }, 30000));
    EXPECT_EQ(log.count(QStringLiteral("getVersion - Helper tool error: org.freedesktop.DBus.Error.AccessDenied")), 1);
    EXPECT_TRUE(client.isConnected());
    timers.advance(1h);
    EXPECT_EQ(outcome->failures, 1);
}

TEST_F(HelperToolConnectionTest, CallsAllowAnAdministratorPromptOnlyWhenTheClientSaysSo)
{
    KCFakeHelperToolDaemon daemon(bus, QStringLiteral("3.9.0"));
    ASSERT_TRUE(daemon.start());
    for (const bool interactive : {false, true}) {
        SCOPED_TRACE(interactive ? "interactive" : "plain");
        RecordingClient client(timers);
        client.setInteractiveAuthorizationAllowed(interactive);
        const auto outcome = requestVersion(client, 10);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !outcome->replies.isEmpty(); }, 30000));
        EXPECT_EQ(daemon.calls.last().isInteractiveAuthorizationAllowed(), interactive);
    }
}

} // namespace
