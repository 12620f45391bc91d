#include "KCDaemonOrchestrationSupport.h"

using namespace std::chrono_literals;

namespace {

const QString Alice = QStringLiteral("alice@example.com");

class KCDaemonNetworkEventsTest : public KCDaemonFixture {};

} // namespace

TEST_F(KCDaemonNetworkEventsTest, SignatureNamesWhatIsKnown)
{
    startWith({});
    const QVariantMap home{{QStringLiteral("localIPAddress"), QStringLiteral("192.168.1.23")},
                           {QStringLiteral("router"), QStringLiteral("192.168.1.1")},
                           {QStringLiteral("primaryInterface"), QStringLiteral("eth0")}};
    EXPECT_EQ(daemon->currentNetworkConfigurationSignature(), home);
    EXPECT_EQ(daemon->lastNetworkConfigurationSignature(), home);

    // A point-to-point default route has no gateway.
    dynamicStore->setGlobalIPv4State(KCGlobalIPv4State{QString(), QStringLiteral("ppp0"), 7});
    EXPECT_EQ(daemon->currentNetworkConfigurationSignature(),
              QVariantMap({{QStringLiteral("localIPAddress"), QStringLiteral("192.168.1.23")}, {QStringLiteral("primaryInterface"), QStringLiteral("ppp0")}}));

    dynamicStore->setGlobalIPv4State(std::nullopt);
    sources.interfaceAddressList.clear();
    EXPECT_EQ(daemon->currentNetworkConfigurationSignature(), QVariantMap());
}

TEST_F(KCDaemonNetworkEventsTest, ChangesInQuickSuccessionEndInOneRefreshAfterTheLast)
{
    startWith({{Alice, QStringLiteral("pw")}});
    client.clear();
    moveToRouter(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(client.events, QStringList{QStringLiteral(
                                 "Refreshing port mappings (network change) in 5 seconds: "
                                 "{\"localIPAddress\": \"192.168.1.23\", \"primaryInterface\": \"eth0\", \"router\": \"192.168.1.1\"} -> "
                                 "{\"localIPAddress\": \"10.0.0.5\", \"primaryInterface\": \"eth0\", \"router\": \"10.0.0.1\"}")});
    const int created = mappers.createdCount;
    timers.advance(3s);
    moveToRouter(QStringLiteral("10.0.1.1"), QStringLiteral("10.0.1.5"), QStringLiteral("wlan0"));
    timers.advance(5s - 1ms);
    EXPECT_EQ(mappers.createdCount, created);
    timers.advance(1ms);
    EXPECT_EQ(mappers.createdCount, created + 1);
    timers.advance(10min);
    EXPECT_EQ(mappers.createdCount, created + 1);
    EXPECT_EQ(daemon->lastNetworkConfigurationSignature().value(QStringLiteral("primaryInterface")), QStringLiteral("wlan0"));
}

TEST_F(KCDaemonNetworkEventsTest, UnchangedNetworkIsIgnored)
{
    startWith({{Alice, QStringLiteral("pw")}});
    mapperFor(*daemon, Alice)->report(-65566, 0, QString());
    ASSERT_EQ(daemon->portMappingRetryAttempt(), 1u);
    client.clear();

    dynamicStore->notify(KCDynamicStoreKey::GlobalIPv4);
    EXPECT_EQ(client.events, QStringList{QStringLiteral(
                                 "Ignoring network change notification; IPv4 configuration is unchanged: "
                                 "{\"localIPAddress\": \"192.168.1.23\", \"primaryInterface\": \"eth0\", \"router\": \"192.168.1.1\"}")});
    EXPECT_EQ(daemon->portMappingRetryAttempt(), 1u);
    // The pending retry stays where it was.
    EXPECT_EQ(timers.nextDeadlineIn(), std::chrono::milliseconds(30s));
}

TEST_F(KCDaemonNetworkEventsTest, ChangedNetworkResetsTheBackOffAndReplacesThePendingRetry)
{
    startWith({{Alice, QStringLiteral("pw")}});
    for (int i = 0; i < 3; ++i) {
        mapperFor(*daemon, Alice)->report(-65566, 0, QString());
        timers.fireNext();
    }
    mapperFor(*daemon, Alice)->report(-65566, 0, QString());
    ASSERT_EQ(timers.nextDeadlineIn(), std::chrono::milliseconds(240s));

    moveToRouter(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(daemon->portMappingRetryAttempt(), 0u);
    EXPECT_EQ(timers.nextDeadlineIn(), std::chrono::milliseconds(5s));
    timers.advance(5s);
    mapperFor(*daemon, Alice)->report(-65566, 0, QString());
    EXPECT_EQ(client.eventCount(QStringLiteral("Retrying in 30 seconds")), 2);
}

TEST_F(KCDaemonNetworkEventsTest, WithoutAnyNetworkEveryNotificationRefreshes)
{
    sources.interfaceAddressList.clear();
    sources.defaultRoute.reset();
    globalIPv4.reset();
    startWith({{Alice, QStringLiteral("pw")}});
    ASSERT_TRUE(daemon->lastNetworkConfigurationSignature().isEmpty());
    const int created = mappers.createdCount;
    for (int i = 1; i <= 2; ++i) {
        dynamicStore->notify(KCDynamicStoreKey::GlobalIPv4);
        EXPECT_EQ(client.eventCount(QStringLiteral("Refreshing port mappings (network change) in 5 seconds: {} -> {}")), i);
        timers.advance(5s);
        EXPECT_EQ(mappers.createdCount, created + i);
    }
}
