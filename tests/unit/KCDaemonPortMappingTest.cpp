#include "KCDaemonOrchestrationSupport.h"

#include "KCDaemonSettings.h"

using namespace std::chrono_literals;

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");

struct ResultCase {
    const char *name;
    QString backend;
    int32_t result;
    uint16_t externalPort;
    QString address;
    QString status;
    // The whole event that reports the result.
    QString event;
    // Seconds until the refresh that retries; 0 when the result is not retried.
    int retryIn;
};

void PrintTo(const ResultCase &c, std::ostream *os)
{
    *os << c.name;
}

const QString NatPmp = QStringLiteral("natpmp-pcp");
const QString UPnP = QStringLiteral("miniupnpc");

const ResultCase resultCases[] = {
    {"mapped", NatPmp, 0, 40001, QStringLiteral("203.0.113.7"), KCDaemonStatusPortMappingSuccessful,
     QStringLiteral("Port 5900 mapped using natpmp-pcp to 203.0.113.7:40001 (NoError (0)), ttl: 7200"), 0},
    {"success without a port", NatPmp, 0, 0, QStringLiteral("203.0.113.7"), KCDaemonStatusPortMappingFailed,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status NoError (0) (ep: 0). Retrying in 30 seconds"), 30},
    {"mapped without a public address", NatPmp, 0, 5901, QString(), KCDaemonStatusPortMappingMissingPublicIP,
     QStringLiteral("Port 5900 mapped using natpmp-pcp to 0.0.0.0:5901 (NoError (0)), ttl: 7200"), 0},
    {"already registered with a port", UPnP, -65547, 40001, QStringLiteral("203.0.113.7"), KCDaemonStatusPortMappingSuccessful,
     QStringLiteral("Port 5900 mapped using miniupnpc to 203.0.113.7:40001 (Already registered (-65547)), ttl: 7200"), 0},
    {"already registered takes the last mapped port", NatPmp, -65547, 0, QStringLiteral("203.0.113.7"),
     KCDaemonStatusPortMappingAlreadyRegistered,
     QStringLiteral("Port 5900 mapped using natpmp-pcp to 203.0.113.7:23456 (Already registered (-65547)), ttl: 7200"), 0},
    {"unknown", NatPmp, -65537, 0, QString(), KCDaemonStatusPortMappingUnknownError,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status Unknown (-65537) (ep: 0). Retrying in 30 seconds"), 30},
    {"NAT traversal", NatPmp, -65557, 0, QString(), KCDaemonStatusNATTraversal,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status NAT traversal (-65557) (ep: 0). Retrying in 30 seconds"), 30},
    {"double NAT", UPnP, -65558, 0, QString(), KCDaemonStatusPortMappingDoubleNAT,
     QStringLiteral("Port mapping (miniupnpc) for port 5900 failed with status Double NAT (-65558) (ep: 0). Retrying in 30 seconds"), 30},
    {"double NAT that still mapped a port", UPnP, -65558, 40001, QStringLiteral("10.0.0.2"), KCDaemonStatusPortMappingDoubleNAT,
     QStringLiteral("Port 5900 mapped using miniupnpc to 10.0.0.2:40001 (Double NAT (-65558)), ttl: 7200"), 0},
    {"service not running", NatPmp, -65563, 0, QString(), KCDaemonStatusPortMappingServiceNotRunning,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status Service not running (-65563) (ep: 0). Retrying in 30 seconds"), 30},
    {"unsupported", UPnP, -65564, 0, QString(), KCDaemonStatusPortMappingUnavailable,
     QStringLiteral("Port mapping (miniupnpc) for port 5900 failed with status NAT port mapping unsupported (-65564) (ep: 0). Retrying in 30 seconds"), 30},
    {"disabled", UPnP, -65565, 0, QString(), KCDaemonStatusPortMappingDisabledOnRouter,
     QStringLiteral("Port mapping (miniupnpc) for port 5900 failed with status NAT port mapping disabled (-65565) (ep: 0). Retrying in 30 seconds"), 30},
    {"no router", NatPmp, -65566, 0, QString(), KCDaemonStatusNoRouter,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status No router (-65566) (ep: 0). Retrying in 30 seconds"), 30},
    {"time-out", NatPmp, -65568, 0, QString(), KCDaemonStatusPortMappingTimeout,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status Timeout (-65568) (ep: 0). Retrying in 30 seconds"), 30},
    {"a code without a name", NatPmp, 12345, 0, QString(), KCDaemonStatusPortMappingSystemError,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status Unknown error: 12345 (12345) (ep: 0). Retrying in 30 seconds"), 30},
    {"another named code", NatPmp, -65540, 0, QString(), KCDaemonStatusPortMappingSystemError,
     QStringLiteral("Port mapping (natpmp-pcp) for port 5900 failed with status Bad param (-65540) (ep: 0). Retrying in 30 seconds"), 30},
};

class KCDaemonMappingResultTest : public KCDaemonFixture, public ::testing::WithParamInterface<ResultCase> {};

} // namespace

TEST_P(KCDaemonMappingResultTest, ResultSetsTheStatusesAndTheRetryAndReachesTheService)
{
    const ResultCase &c = GetParam();
    store.setInteger(23456, QStringLiteral("lastMappedPort"));
    mappers.backend = c.backend;
    startWith({{Alice, QStringLiteral("pw")}});
    KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
    ASSERT_TRUE(mapper);
    EXPECT_EQ(mapper->attempts, QList<uint16_t>{5900});
    client.clear();

    mapper->report(c.result, c.externalPort, c.address, 7200, 3);

    EXPECT_EQ(daemon->portMappingStatus(), c.status);
    EXPECT_EQ(daemon->lastMappingStatus(), c.status);
    EXPECT_EQ(daemon->kcServices().at(Alice).status(), c.status);
    EXPECT_EQ(daemon->lastServiceErrorType(), c.result);
    EXPECT_EQ(daemon->interfaceIndex(), 3u);
    EXPECT_EQ(client.eventCount(c.event), 1) << client.events.join(QLatin1Char('\n')).toStdString();

    // The only mapper is done, so the service hears of the result.
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));
    const KCFakeRecordedRequest update = updates().first();
    EXPECT_EQ(update.field(QStringLiteral("serviceLastErrorType")), QString::number(c.result));
    EXPECT_EQ(update.field(QStringLiteral("lastMappingStatus")), c.status);

    const int created = mappers.createdCount;
    if (c.retryIn == 0) {
        EXPECT_EQ(daemon->portMappingRetryAttempt(), 0u);
        timers.advance(300s);
        EXPECT_EQ(mappers.createdCount, created);
        return;
    }
    EXPECT_EQ(daemon->portMappingRetryAttempt(), 1u);
    timers.advance(std::chrono::seconds(c.retryIn) - 1ms);
    EXPECT_EQ(mappers.createdCount, created);
    timers.advance(1ms);
    EXPECT_EQ(mappers.createdCount, created + 1);
    EXPECT_EQ(mapper->closeCount, 1);
    EXPECT_EQ(mapperFor(*daemon, Alice)->attempts, QList<uint16_t>{5900});
}

INSTANTIATE_TEST_SUITE_P(Results, KCDaemonMappingResultTest, ::testing::ValuesIn(resultCases), caseName<ResultCase>);

class KCDaemonPortMappingTest : public KCDaemonFixture {};

TEST_F(KCDaemonPortMappingTest, FailuresBackOffAndAGoodResultStartsAgain)
{
    startWith({{Alice, QStringLiteral("pw")}});
    auto failOnce = [&](int expectedDelay) {
        SCOPED_TRACE(expectedDelay);
        mapperFor(*daemon, Alice)->report(-65566, 0, QString());
        EXPECT_EQ(client.eventCount(QStringLiteral("Retrying in %1 seconds").arg(expectedDelay)), 1);
        EXPECT_EQ(timers.nextDeadlineIn(), std::chrono::milliseconds(std::chrono::seconds(expectedDelay)));
        client.clear();
        timers.advance(std::chrono::seconds(expectedDelay));
    };
    for (int delay : {30, 60, 120, 240, 300, 300})
        failOnce(delay);

    mapperFor(*daemon, Alice)->report(0, 40001, QStringLiteral("203.0.113.7"));
    EXPECT_EQ(daemon->portMappingRetryAttempt(), 0u);
    // Only the daily timer is left.
    EXPECT_EQ(timers.activeTimerCount(), 1);
    failOnce(30);
    failOnce(60);
}

TEST_F(KCDaemonPortMappingTest, RetryDelayIsCountedAndCapped)
{
    startWith({});
    QList<double> delays;
    for (int i = 0; i < 14; ++i)
        delays.append(daemon->nextPortMappingRetryDelay());
    EXPECT_EQ(delays, QList<double>({30, 60, 120, 240, 300, 300, 300, 300, 300, 300, 300, 300, 300, 300}));
    EXPECT_EQ(daemon->portMappingRetryAttempt(), 14u);
}

TEST_F(KCDaemonPortMappingTest, ResultsCanBePrinted)
{
    EXPECT_EQ(KCDaemonApplicationMain::humanReadableType(-65558), QStringLiteral("Double NAT (-65558)"));
    EXPECT_EQ(KCDaemonApplicationMain::humanReadableType(12345), QStringLiteral("Unknown error: 12345 (12345)"));
    EXPECT_EQ(KCDaemonApplicationMain::humanReadableType(-1), QStringLiteral("Unknown error: -1 (-1)"));
}

TEST_F(KCDaemonPortMappingTest, ManualModeOnlyLearnsTheAddressAndNeverRetries)
{
    store.setInteger(1, KCDaemonSettingsStoreKey::ManualMode);
    startWith({{Alice, QStringLiteral("pw")}});
    KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
    ASSERT_TRUE(mapper);
    EXPECT_EQ(mapper->attempts, QList<uint16_t>{0});
    EXPECT_EQ(daemon->kcServices().at(Alice).localPort(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("Will fetch IP address in manual mode")));
    EXPECT_EQ(client.eventCount(QStringLiteral("Fetching external IP address (manual mode)")), 1);

    mapper->report(-65566, 0, QString(), 0);
    EXPECT_EQ(daemon->portMappingStatus(), KCDaemonStatusPortMappingMissingPublicIP);
    EXPECT_EQ(client.eventCount(QStringLiteral("Port 0 mapped using natpmp-pcp to 0.0.0.0:0 (No router (-65566)), ttl: 0")), 1);
    EXPECT_EQ(timers.nextDeadlineIn(), std::chrono::milliseconds(24h));

    mapper->report(-65558, 0, QStringLiteral("203.0.113.7"), 0);
    EXPECT_EQ(daemon->portMappingStatus(), KCDaemonStatusPortMappingUsingManualSetting);
    EXPECT_EQ(daemon->portMappingRetryAttempt(), 0u);
    EXPECT_EQ(timers.nextDeadlineIn(), std::chrono::milliseconds(24h));
}

TEST_F(KCDaemonPortMappingTest, SecureShellMapsThePortTheServerListensOn)
{
    store.setObject(true, KCDaemonSettingsStoreKey::UseSSH);
    sources.sshListener = QStringLiteral("2222");
    startWith({{Alice, QStringLiteral("pw")}});
    ASSERT_TRUE(mapperFor(*daemon, Alice));
    EXPECT_EQ(mapperFor(*daemon, Alice)->attempts, QList<uint16_t>{2222});
    EXPECT_EQ(daemon->kcServices().at(Alice).localPort(), 2222);
    EXPECT_TRUE(log.contains(QStringLiteral("Will map port: 2222 for account %1 in auto mode").arg(Alice)));
    EXPECT_EQ(client.eventCount(QStringLiteral("Applying port mapping for %1 to: 2222 in auto mode").arg(Alice)), 1);
    // The configured local port is what the client shows, not what is mapped.
    EXPECT_EQ(daemon->settings().sshPort(), 22);
}

TEST_F(KCDaemonPortMappingTest, OnlyASuccessfulUPnPMappingTriggersTheDiagnostics)
{
    struct Case {
        QString backend;
        int32_t result;
        uint16_t port;
        QString address;
        bool collected;
    } cases[] = {
        {QStringLiteral("natpmp-pcp"), 0, 40001, QStringLiteral("203.0.113.7"), false},
        {QStringLiteral("miniupnpc"), 0, 40001, QStringLiteral("203.0.113.7"), true},
        {QStringLiteral("miniupnpc"), -65547, 40001, QStringLiteral("203.0.113.7"), true},
        {QStringLiteral("miniupnpc"), 0, 40001, QString(), false},
        {QStringLiteral("miniupnpc"), -65558, 0, QString(), false},
    };
    startWith({{Alice, QStringLiteral("pw")}});
    int round = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.backend.toStdString() + " " + std::to_string(c.result));
        // Different each time, so what was posted before never stands in the way.
        const QVariantMap diagnostics{{QStringLiteral("manufacturer"), QStringLiteral("Acme")},
                                      {QStringLiteral("modelName"), QStringLiteral("AX-%1").arg(++round)}};
        daemon->refreshAllPortMappings();
        KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
        mapper->backend = c.backend;
        mapper->report(c.result, c.port, c.address);
        // The update asks its own mapper too, without sending; only the result's request sends.
        EXPECT_EQ(mapper->collectionsAsked, c.collected ? 2 : 1);
        const int before = client.eventCount(QStringLiteral("Sending UPnP IGD diagnostics"));
        mapper->finishCollections(diagnostics);
        EXPECT_EQ(client.eventCount(QStringLiteral("Sending UPnP IGD diagnostics")) - before, c.collected ? 1 : 0);
    }
}

TEST_F(KCDaemonPortMappingTest, UpdateWaitsForTheLastWorkingMapper)
{
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    ASSERT_EQ(mappers.live.size(), 2);
    mapperFor(*daemon, Alice)->report(0, 40001, QStringLiteral("203.0.113.7"));
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 0);
    mapperFor(*daemon, Bob)->report(0, 40002, QStringLiteral("203.0.113.7"));
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 1);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));
    const QList<KCFakeRecordedRequest::Field> expectedPorts{{Alice, QStringLiteral("40001")}, {Bob, QStringLiteral("40002")}};
    EXPECT_EQ(updates().first().dictionaryField(QStringLiteral("KCServicePort")), expectedPorts);
}

TEST_F(KCDaemonPortMappingTest, RefreshReplacesEveryMapperAndSkipsAccountsWithoutAPassword)
{
    addAccount(Alice, QStringLiteral("pw"));
    // Known from the store's list only: the keychain holds no password for it.
    store.setObject(QVariantList{Alice, Bob}, QStringLiteral("KCDaemonKeychainAccountList"));
    daemon = start();
    EXPECT_EQ(daemon->kcServices().size(), 1u);
    KCFakePortMapper *first = mapperFor(*daemon, Alice);
    ASSERT_TRUE(first);
    EXPECT_EQ(daemon->kcServices().at(Alice).status(), KCDaemonStatusAccountDaemonInitializing);
    EXPECT_EQ(daemon->kcServices().at(Alice).username(), Alice);

    daemon->refreshAllPortMappings();
    EXPECT_EQ(first->closeCount, 1);
    EXPECT_NE(mapperFor(*daemon, Alice), first);
    processQueuedCalls();
    EXPECT_EQ(mappers.live.size(), 1);
    EXPECT_EQ(mappers.destroyedCount, 1);

    daemon->removePortMapping(Bob);
    daemon->removeAllPortMappings();
    EXPECT_TRUE(daemon->kcServices().empty());
    processQueuedCalls();
    EXPECT_TRUE(mappers.live.isEmpty());
}

TEST_F(KCDaemonPortMappingTest, OnlyOneDelayedRefreshIsEverPending)
{
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    mapperFor(*daemon, Alice)->report(-65566, 0, QString());
    mapperFor(*daemon, Bob)->report(-65566, 0, QString());
    // The second failure replaced the first one's 30-second refresh with its own of 60 seconds.
    EXPECT_EQ(timers.activeTimerCount(), 2);
    const int created = mappers.createdCount;
    timers.advance(30s);
    EXPECT_EQ(mappers.createdCount, created);
    timers.advance(30s);
    EXPECT_EQ(mappers.createdCount, created + 2);

    // A good result cancels the pending refresh.
    mapperFor(*daemon, Alice)->report(-65566, 0, QString());
    mapperFor(*daemon, Bob)->report(0, 40002, QStringLiteral("203.0.113.7"));
    timers.advance(23h);
    EXPECT_EQ(mappers.createdCount, created + 2);
}

TEST_F(KCDaemonPortMappingTest, MapperDroppedWhileItsResultIsHandledOutlivesTheCall)
{
    startWith({{Alice, QStringLiteral("pw")}});
    KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
    // The password went missing: the update that follows the result removes the account, and
    // its mapper with it, while the mapper is still delivering.
    keychain.items.clear();
    mapper->report(0, 40001, QStringLiteral("203.0.113.7"));
    EXPECT_TRUE(daemon->kcServices().empty());
    EXPECT_TRUE(mappers.live.contains(mapper));
    EXPECT_EQ(mapper->closeCount, 1);
    processQueuedCalls();
    EXPECT_TRUE(mappers.live.isEmpty());
}
