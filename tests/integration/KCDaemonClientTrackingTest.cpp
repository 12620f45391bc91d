#include "KCDBusValue.h"
#include "KCErrorDBus.h"
#include "KCTestDaemonOnBus.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

// A client's call-back object: keeps every call the daemon makes on it.
class CallbackRecorder final : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        received.append(message);
        return true;
    }
    QList<QDBusMessage> received;
};

struct Client {
    QDBusConnection connection{QString()};
    CallbackRecorder recorder;
};

class KCDaemonClientTrackingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KC_REQUIRE_ROOT_FOR_BUS();
        QString error;
        ASSERT_TRUE(daemon.start(false, &error)) << error.toStdString();
    }

    std::unique_ptr<Client> connectClient()
    {
        auto client = std::make_unique<Client>();
        client->connection = daemon.bus.connect();
        EXPECT_TRUE(client->connection.registerVirtualObject(QStringLiteral("/com/fendrel/kovra/connect/client"),
                                                             &client->recorder));
        return client;
    }

    // The client calls the daemon, which accepts it on the first authorised call.
    void call(Client &client)
    {
        QDBusPendingCall pending = client.connection.asyncCall(QDBusMessage::createMethodCall(
            KCDaemonHelperToolService::ServiceName, KCDaemonHelperToolService::ObjectPath,
            QStringLiteral("com.fendrel.kovra.connect.HelperToolServer"), QStringLiteral("getVersion")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 30000));
        ASSERT_FALSE(pending.isError()) << pending.error().message().toStdString();
    }

    KCTestDaemonOnBus daemon;
};

TEST_F(KCDaemonClientTrackingTest, CallBacksGoToTheLatestClientStillOnTheBus)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(connectClient());

    enum Action { Calls, Leaves };
    struct Step {
        const char *what;
        Action action;
        int client;
        int expectedRecipient;
    };
    const Step steps[] = {
        {"0 calls", Calls, 0, 0},
        {"1 calls", Calls, 1, 1},
        {"0 calls again, keeping its place", Calls, 0, 1},
        {"1 leaves, 0 gets them again", Leaves, 1, 0},
        {"2 calls", Calls, 2, 2},
        {"0 leaves while 2 is current", Leaves, 0, 2},
        {"2 leaves, nobody is left", Leaves, 2, -1},
    };
    KCDaemonClientTracker &tracker = daemon.listener->clients();
    int stepNumber = 0;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        Client &client = *clients.at(step.client);
        if (step.action == Calls) {
            call(client);
        } else {
            // The connection closes when its last handle is gone.
            const QString name = client.connection.name();
            client.connection = QDBusConnection(QString());
            QDBusConnection::disconnectFromBus(name);
        }
        const QString expected = step.expectedRecipient < 0 ? QString()
                                                             : clients.at(step.expectedRecipient)->connection.baseService();
        ASSERT_TRUE(QTest::qWaitFor([&] { return tracker.currentClient() == expected; }, 30000))
            << tracker.currentClient().toStdString();

        const QString event = QStringLiteral("step %1").arg(++stepNumber);
        daemon.listener->client().logServiceEvent(event);
        if (step.expectedRecipient < 0)
            continue;
        CallbackRecorder &recorder = clients.at(step.expectedRecipient)->recorder;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.received.isEmpty() && recorder.received.last().arguments().value(0) == event; }, 30000));
    }
    // Each step's event reached exactly one client.
    int delivered = 0;
    for (const auto &client : clients)
        delivered += client->recorder.received.size();
    EXPECT_EQ(delivered, stepNumber - 1);
}

TEST_F(KCDaemonClientTrackingTest, BeyondItsLimitTheTrackerKeepsTheClientsThatCameFirst)
{
    KCDaemonClientTracker tracker(daemon.connection, 2);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(connectClient());
    for (int i = 0; i < 3; ++i)
        tracker.accept(clients.at(i)->connection.baseService());
    EXPECT_EQ(tracker.clients(), (QStringList{clients.at(0)->connection.baseService(), clients.at(1)->connection.baseService()}));

    // A place comes free when a client leaves.
    const QString leaving = clients.at(1)->connection.name();
    clients.at(1)->connection = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(leaving);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tracker.clients().size() == 1; }, 30000));
    tracker.accept(clients.at(3)->connection.baseService());
    EXPECT_EQ(tracker.currentClient(), clients.at(3)->connection.baseService());
}

TEST_F(KCDaemonClientTrackingTest, CallBacksCarryTheirDBusTypesAndExpectNoReply)
{
    auto client = connectClient();
    // Before its first call a program is no client: nothing is sent to it.
    daemon.listener->client().logServiceEvent(QStringLiteral("too early"));
    call(*client);

    KCRegisterErrorDBusType();
    const QVariantMap status = KCRecordingOperations::status();
    const KCError accountError = KCError::withFailureReason(KCDaemonErrorDomain, 20, QStringLiteral("Password mismatch"));
    const QVariantMap response{{QStringLiteral("status"), qint64(500)},
                               {QStringLiteral("accounts"), QVariantList{QVariantMap{{QStringLiteral("ok"), false}}}}};
    KCDaemonCallbackSender &sender = daemon.listener->client();
    sender.portMappingStatusChanged(status);
    sender.kovraIdError(QStringLiteral("a@example.com"), accountError);
    sender.updateError(accountError, response);
    sender.updateError(accountError, QVariantList{qint64(1), QStringLiteral("two")});
    sender.updateError(accountError, QVariant());
    sender.logServiceEvent(QStringLiteral("Added account (a@example.com)"));

    struct Expected {
        QString member;
        QString signature;
        QVariantList arguments;
    };
    const Expected expected[] = {
        {QStringLiteral("portMappingStatusChanged"), QStringLiteral("a{sv}"), {status}},
        {QStringLiteral("kovraIdError"), QStringLiteral("s(sia{sv})"), {QStringLiteral("a@example.com"), QVariant::fromValue(accountError)}},
        {QStringLiteral("updateError"), QStringLiteral("(sia{sv})a{sv}"), {QVariant::fromValue(accountError), response}},
        {QStringLiteral("updateError"), QStringLiteral("(sia{sv})a{sv}"),
         {QVariant::fromValue(accountError),
          QVariantMap{{QStringLiteral("response"), QVariantList{qint64(1), QStringLiteral("two")}}}}},
        {QStringLiteral("updateError"), QStringLiteral("(sia{sv})a{sv}"), {QVariant::fromValue(accountError), QVariantMap{}}},
        {QStringLiteral("logServiceEvent"), QStringLiteral("s"), {QStringLiteral("Added account (a@example.com)")}},
    };
    const int count = static_cast<int>(std::size(expected));
    ASSERT_TRUE(QTest::qWaitFor([&] { return client->recorder.received.size() == count; }, 30000))
        << client->recorder.received.size();
    for (int i = 0; i < count; ++i) {
        const QDBusMessage &message = client->recorder.received.at(i);
        const Expected &e = expected[i];
        SCOPED_TRACE(e.member.toStdString());
        EXPECT_EQ(message.member(), e.member);
        EXPECT_EQ(message.interface(), QStringLiteral("com.fendrel.kovra.connect.HelpetToolClient"));
        EXPECT_EQ(message.signature(), e.signature);
        EXPECT_FALSE(message.isReplyRequired());
        const QVariantList arguments = message.arguments();
        ASSERT_EQ(arguments.size(), e.arguments.size());
        for (int a = 0; a < arguments.size(); ++a) {
            if (e.arguments.at(a).metaType() == QMetaType::fromType<KCError>())
                EXPECT_EQ(qdbus_cast<KCError>(arguments.at(a)), e.arguments.at(a).value<KCError>());
            else
                EXPECT_EQ(KCDBusValue::fromDBus(arguments.at(a)), e.arguments.at(a));
        }
    }
}

} // namespace
