#include "KCDNSServiceError.h"
#include "KCLogCapture.h"
#include "KCRouterPortMapperRig.h"

#include <gmock/gmock.h>

namespace {

using Rig = KCRouterPortMapperRig;
const QString kLastMappedPort = QStringLiteral("lastMappedPort");
const uint32_t kPublic = ipv4("203.0.113.7");

bool inPreferredRange(qint64 port)
{
    return port >= 10000 && port <= 49151;
}

QString fallbackLine(int32_t status)
{
    return QStringLiteral("Port mapping attempt failed with Apple API status %1. Falling back to miniupnpc.").arg(status);
}

TEST(RouterPortMapperPorts, StoredPortIsKeptOnlyInRangeAndAskedForByTheSystemPath)
{
    struct Case {
        const char *name;
        QVariant stored;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"nothing stored", QVariant(), false},
        {"8080, below the range", QVariant::fromValue(qint64(8080)), false},
        {"49152, above the range", QVariant::fromValue(qint64(49152)), false},
        {"a negative number", QVariant::fromValue(qint64(-23456)), false},
        {"10000, the lowest", QVariant::fromValue(qint64(10000)), true},
        {"49151, the highest", QVariant::fromValue(qint64(49151)), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.stored.isValid())
            rig.store.setObject(c.stored, kLastMappedPort);
        KCDaemonRouterPortMapper &mapper = rig.create();
        // Read at creation: a value outside the range is gone before anything is mapped.
        EXPECT_EQ(mapper.externalPort(), c.kept ? c.stored.toInt() : 0);
        EXPECT_EQ(rig.stored().isValid(), c.kept);

        mapper.tryMappingPort(5900);
        ASSERT_EQ(rig.nat.opened().size(), 1u);
        const KCNATPortMappingParameters asked = rig.nat.opened()[0].parameters;
        EXPECT_EQ(asked.flags, 0u);
        EXPECT_EQ(asked.interfaceIndex, 0u);
        EXPECT_EQ(asked.protocols, KCNATProtocol::TCP | KCNATProtocol::UDP);
        EXPECT_EQ(asked.internalPort, 5900);
        EXPECT_EQ(asked.ttl, 0u);
        if (c.kept) {
            EXPECT_EQ(asked.externalPort, c.stored.toInt());
        } else {
            EXPECT_TRUE(inPreferredRange(asked.externalPort)) << asked.externalPort;
        }
        // A port drawn is stored at once, so the next attempt asks for the same one.
        EXPECT_EQ(rig.stored().toInt(), asked.externalPort);
        EXPECT_TRUE(mapper.isWorking());
        EXPECT_EQ(mapper.portMappingBackendName(), QStringLiteral("natpmp-pcp"));
    }
}

TEST(RouterPortMapperPorts, AddressOnlyRequestAsksForNoPortAndDrawsNone)
{
    Rig rig;
    rig.create().tryMappingPort(0);
    ASSERT_EQ(rig.nat.opened().size(), 1u);
    const KCNATPortMappingParameters asked = rig.nat.opened()[0].parameters;
    EXPECT_EQ(asked.protocols, 0u);
    EXPECT_EQ(asked.internalPort, 0);
    EXPECT_EQ(asked.externalPort, 0);
    EXPECT_FALSE(rig.stored().isValid());
}

TEST(RouterPortMapperSystemPath, RepliesAreReportedOrTakeTheUPnPPath)
{
    struct Case {
        const char *name;
        uint16_t internalPort;
        KCNATPortMappingReply reply;
        bool fallsBack;
        KCMapperResult reported;
        qint64 storedAfter; // 0: "lastMappedPort" removed
    };
    const KCMapperResult upnpMapped{0, Rig::storedPort, kPublic, 0, 0};
    const std::vector<Case> cases = {
        {"mapped as asked", 5900, natReply(0, kPublic, Rig::storedPort), false,
            {0, Rig::storedPort, kPublic, 2, 7200}, Rig::storedPort},
        {"the router chose another port in the range", 5900, natReply(0, kPublic, 30000), false,
            {0, 30000, kPublic, 2, 7200}, 30000},
        {"public port 1024 is usable but not kept", 5900, natReply(0, kPublic, 1024), false,
            {0, 1024, kPublic, 2, 7200}, 0},
        {"public port 443 falls back", 5900, natReply(0, kPublic, 443), true, upnpMapped, Rig::storedPort},
        {"public address 0 falls back", 5900, natReply(0, 0, Rig::storedPort), true, upnpMapped, Rig::storedPort},
        {"a time-out falls back", 5900, natReply(-65568, 0, 0), true, upnpMapped, Rig::storedPort},
        {"address only: the address is reported", 0, natReply(0, kPublic, 0, 0), false, {0, 0, kPublic, 2, 7200}, 0},
        {"address only: address 0 is reported as is", 0, natReply(0, 0, 0, 0), false, {0, 0, 0, 2, 7200}, 0},
        {"address only: a failure is reported", 0, natReply(-65564, 0, 0, 0, 0), false, {-65564, 0, 0, 2, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KCLogCapture log;
        Rig rig;
        rig.store.setInteger(Rig::storedPort, kLastMappedPort);
        rig.nat.setScriptedReplies({c.reply});
        KCDaemonRouterPortMapper &mapper = rig.create();
        mapper.tryMappingPort(c.internalPort);
        ASSERT_TRUE(rig.waitForResults(1));
        ASSERT_TRUE(rig.settle());

        ASSERT_EQ(rig.delegate.results.size(), 1u) << "one result per reply, the failed one not reported";
        EXPECT_EQ(rig.delegate.results[0], c.reported);
        EXPECT_FALSE(rig.delegate.offMainThread);
        EXPECT_FALSE(mapper.isWorking());
        EXPECT_EQ(mapper.externalPort(), c.reported.externalPort);
        EXPECT_EQ(mapper.externalAddress(), c.reported.externalAddress);
        EXPECT_EQ(mapper.ttl(), c.reported.ttl);
        EXPECT_EQ(rig.stored().isValid() ? rig.store.integerForKey(kLastMappedPort) : 0, c.storedAfter);

        EXPECT_EQ(log.contains(fallbackLine(c.reply.errorCode)), c.fallsBack);
        EXPECT_EQ(rig.nat.openCount(), c.fallsBack ? 0u : 1u) << "the system request is released on fallback";
        EXPECT_EQ(rig.countCalls(QStringLiteral("AddPortMapping TCP 23456")), c.fallsBack ? 1 : 0);
        EXPECT_EQ(mapper.portMappingBackendName(), c.fallsBack ? QStringLiteral("miniupnpc") : QStringLiteral("natpmp-pcp"));
    }
}

TEST(RouterPortMapperSystemPath, LaterRepliesOfAnOpenRequestAreReportedAsTheyCome)
{
    Rig rig;
    rig.nat.setScriptedReplies({natReply(0, kPublic, 30000)});
    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    // The router's public address changes while the request stays open.
    ASSERT_TRUE(rig.nat.deliver(0, natReply(0, ipv4("203.0.113.99"), 30000)));
    ASSERT_EQ(rig.delegate.results.size(), 2u);
    EXPECT_EQ(rig.delegate.results[1], (KCMapperResult{0, 30000, ipv4("203.0.113.99"), 2, 7200}));
    EXPECT_EQ(rig.mapper->externalAddress(), ipv4("203.0.113.99"));
}

TEST(RouterPortMapperSystemPath, SynchronousFailuresAreLoggedAndTakeTheFallbackDecision)
{
    struct Case {
        const char *name;
        uint16_t internalPort;
        int32_t error;
        KCMapperResult reported;
    };
    const std::vector<Case> cases = {
        {"service not running, mapping: UPnP is tried", 5900, -65563, {0, Rig::storedPort, kPublic, 0, 0}},
        {"service not running, address only: reported", 0, -65563, {-65563, 0, 0, 0, 0}},
        {"bad parameters, address only: reported", 0, -65540, {-65540, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KCLogCapture log;
        Rig rig;
        rig.store.setInteger(Rig::storedPort, kLastMappedPort);
        rig.nat.failNextCreate(c.error);
        rig.create().tryMappingPort(c.internalPort);
        ASSERT_TRUE(rig.waitForResults(1));
        EXPECT_EQ(rig.delegate.results[0], c.reported);
        EXPECT_TRUE(log.contains(QStringLiteral("Port mapping attempt failed with error %1").arg(c.error)));
        EXPECT_EQ(log.contains(fallbackLine(c.error)), c.internalPort != 0);
        EXPECT_EQ(rig.nat.openCount(), 0u);
    }
}

TEST(RouterPortMapperSystemPath, AlreadyRegisteredReportsWhatTheMapperLastLearnt)
{
    Rig rig;
    rig.nat.setScriptedReplies({natReply(0, kPublic, 30000)});
    KCDaemonRouterPortMapper &mapper = rig.create();
    mapper.tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));

    rig.nat.failNextCreate(KCDNSServiceError::AlreadyRegistered);
    mapper.tryMappingPort(0);
    ASSERT_TRUE(rig.waitForResults(2));
    EXPECT_EQ(rig.delegate.results[1], (KCMapperResult{-65547, 30000, kPublic, 0, 0}));
    EXPECT_EQ(rig.store.integerForKey(kLastMappedPort), 30000) << "the port still stands, so it stays stored";
}

TEST(RouterPortMapperSystemPath, OneFallbackPerAttempt)
{
    KCLogCapture log;
    Rig rig;
    rig.systemFails();
    rig.upnp->with([](KCFakeUPnPIGDClient &fake) { fake.script.deviceAnswers = false; });
    KCDaemonRouterPortMapper &mapper = rig.create();
    mapper.tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    // The UPnP path failing too is the attempt's result: nothing is tried a third way.
    EXPECT_EQ(rig.delegate.results[0].code, KCDNSServiceError::NoRouter);
    EXPECT_EQ(rig.nat.createCalls(), 1);
    EXPECT_EQ(log.count(fallbackLine(-65568)), 1);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.delegate.results.size(), 1u);

    // A new attempt may fall back again.
    mapper.tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(2));
    EXPECT_EQ(rig.nat.createCalls(), 2);
    EXPECT_EQ(log.count(fallbackLine(-65568)), 2);
}

TEST(RouterPortMapperSystemPath, CloseReleasesTheRequestAndLateRepliesAreNotHeard)
{
    Rig rig;
    rig.nat.setScriptedReplies({natReply(0, kPublic, 30000)});
    KCDaemonRouterPortMapper &mapper = rig.create();
    mapper.tryMappingPort(5900);
    mapper.close();
    EXPECT_FALSE(mapper.isWorking());
    EXPECT_EQ(rig.nat.openCount(), 0u);
    ASSERT_TRUE(rig.settle());
    EXPECT_TRUE(rig.delegate.results.empty());
}

} // namespace
