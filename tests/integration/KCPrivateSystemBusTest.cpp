#include "KCPrivateSystemBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <signal.h>

namespace {

const QString DaemonName = QStringLiteral("com.fendrel.kovra.connect");
const QString DaemonPath = QStringLiteral("/com/fendrel/kovra/connect");
const QString ServerInterface = QStringLiteral("com.fendrel.kovra.connect.HelperToolServer");
const QString ClientInterface = QStringLiteral("com.fendrel.kovra.connect.HelpetToolClient");
const QString AccessDenied = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");

// Answers every call with "answered", so a test sees which calls the bus let through.
class AnsweringObject final : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        connection.send(message.createReply(QStringLiteral("answered")));
        return true;
    }
};

TEST(KCPrivateSystemBusTest, ChildrenFindTheBusAndTheFakesOwnTheirNames)
{
    KCPrivateSystemBus bus;
    ASSERT_TRUE(bus.start()) << bus.error().toStdString();
    EXPECT_EQ(qgetenv("DBUS_SYSTEM_BUS_ADDRESS"), bus.address().toUtf8());

    auto client = bus.startProgram(KCPrivateSystemBus::fakeProgram(QStringLiteral("kc_test_bus_client")),
                                   {QStringLiteral("--destination"), QStringLiteral("org.freedesktop.DBus"),
                                    QStringLiteral("--path"), QStringLiteral("/org/freedesktop/DBus"),
                                    QStringLiteral("--interface"), QStringLiteral("org.freedesktop.DBus"),
                                    QStringLiteral("GetId")});
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->waitForLine(QStringLiteral("reply 1 "))) << client->lines().join(QLatin1Char('\n')).toStdString();

    const auto polkit = bus.startFakePolkit();
    const auto logind = bus.startFakeLogind();
    ASSERT_TRUE(polkit);
    ASSERT_TRUE(logind);
    QDBusConnection connection = bus.connect();
    EXPECT_TRUE(connection.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.PolicyKit1")));
    EXPECT_TRUE(connection.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")));
}

TEST(KCPrivateSystemBusTest, TheBusStopsWithTheFixture)
{
    const QByteArray addressBefore = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qint64 pid = 0;
    {
        KCPrivateSystemBus bus;
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        QDBusConnection connection = bus.connect();
        ASSERT_TRUE(connection.isConnected());
        pid = connection.interface()->servicePid(QStringLiteral("org.freedesktop.DBus"));
        ASSERT_GT(pid, 0);
    }
    EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0);
    EXPECT_EQ(qgetenv("DBUS_SYSTEM_BUS_ADDRESS"), addressBefore);
}

TEST(KCPrivateSystemBusTest, OnlyRootMayOwnTheDaemonName)
{
    KC_REQUIRE_ROOT_FOR_BUS();
    KCPrivateSystemBus bus;
    ASSERT_TRUE(bus.start()) << bus.error().toStdString();

    struct Case {
        const char *who;
        std::optional<KCTestUser> user;
        QString expected;
    };
    const Case cases[] = {
        {"nobody", KCPrivateSystemBus::testUser(), QStringLiteral("error 0 ") + AccessDenied},
        {"root", std::nullopt, QStringLiteral("owned ") + DaemonName},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.who);
        auto owner = bus.startProgram(KCPrivateSystemBus::fakeProgram(QStringLiteral("kc_test_bus_client")),
                                      {QStringLiteral("--own"), DaemonName}, c.user);
        ASSERT_TRUE(owner);
        EXPECT_TRUE(owner->waitForLine(c.expected)) << owner->lines().join(QLatin1Char('\n')).toStdString();
    }
}

TEST(KCPrivateSystemBusTest, CallersReachTheDaemonInterfaceOnlyAtTheDaemon)
{
    KC_REQUIRE_ROOT_FOR_BUS();
    KCPrivateSystemBus bus;
    ASSERT_TRUE(bus.start()) << bus.error().toStdString();

    AnsweringObject daemonObject;
    QDBusConnection daemon = bus.connect();
    ASSERT_TRUE(daemon.registerVirtualObject(DaemonPath, &daemonObject));
    ASSERT_TRUE(daemon.registerService(DaemonName));
    // Another connection of root's, holding the same object but not the daemon's name: a client.
    AnsweringObject otherObject;
    QDBusConnection other = bus.connect();
    ASSERT_TRUE(other.registerVirtualObject(DaemonPath, &otherObject));

    struct Case {
        const char *what;
        std::optional<KCTestUser> user;
        QString destination;
        QString interface;
        QString method;
        bool delivered;
    };
    const Case cases[] = {
        {"the daemon's interface at its name", KCPrivateSystemBus::testUser(), DaemonName, ServerInterface,
         QStringLiteral("getVersion"), true},
        {"the daemon's interface at the daemon's unique name", KCPrivateSystemBus::testUser(), daemon.baseService(),
         ServerInterface, QStringLiteral("getVersion"), true},
        {"the daemon's interface at another connection", KCPrivateSystemBus::testUser(), other.baseService(),
         ServerInterface, QStringLiteral("getVersion"), false},
        {"another interface at the daemon", KCPrivateSystemBus::testUser(), DaemonName,
         QStringLiteral("com.fendrel.kovra.connect.Private"), QStringLiteral("getVersion"), false},
        {"a client call-back, by another user", KCPrivateSystemBus::testUser(), other.baseService(), ClientInterface,
         QStringLiteral("logServiceEvent"), false},
        {"a client call-back, by root", std::nullopt, other.baseService(), ClientInterface,
         QStringLiteral("logServiceEvent"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto caller = bus.startProgram(KCPrivateSystemBus::fakeProgram(QStringLiteral("kc_test_bus_client")),
                                       {QStringLiteral("--destination"), c.destination, QStringLiteral("--interface"),
                                        c.interface, c.method},
                                       c.user);
        ASSERT_TRUE(caller);
        const std::optional<QString> result = caller->waitForLine(QStringLiteral(" 1 "));
        ASSERT_TRUE(result) << caller->lines().join(QLatin1Char('\n')).toStdString();
        if (c.delivered)
            EXPECT_EQ(*result, QStringLiteral("reply 1 answered"));
        else
            EXPECT_TRUE(result->startsWith(QStringLiteral("error 1 ") + AccessDenied)) << result->toStdString();
    }
}

} // namespace
