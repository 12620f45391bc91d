#include "KCNatPmpPcpClientFixture.h"

#include "KCDNSServiceError.h"
#include "KCLogCapture.h"
#include "KCNATServerEpoch.h"

using namespace std::chrono_literals;
using namespace KCNATRequestFields;
using Router = KCScriptedNATRouter;
using std::chrono::milliseconds;

namespace {
constexpr uint32_t PublicAddress = 0xCB007107; // 203.0.113.7
constexpr uint32_t OtherPublicAddress = 0xC6336405; // 198.51.100.5
} // namespace

class LeaseTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(LeaseTest, RenewsBetweenHalfAndFiveEighthsButNeverWithinFourSeconds)
{
    const uint32_t lease = GetParam();
    router.grantedLease = lease;
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].ttl, lease);

    const int64_t leaseMs = int64_t(lease) * 1000;
    const milliseconds earliest = std::max(milliseconds(leaseMs / 2), 4000ms);
    const milliseconds latest = std::max(milliseconds(leaseMs * 5 / 8), 4000ms);
    const auto renewal = nextSend(milliseconds(leaseMs) + 10s);
    ASSERT_TRUE(renewal);
    EXPECT_GE(*renewal, earliest);
    EXPECT_LE(*renewal, latest);
    const QByteArray renewed = router.received()[2].data;
    EXPECT_EQ(lifetime(renewed), 7200u) << "asks for the lease it wants again";
    EXPECT_EQ(suggestedPort(renewed), 23456);
    EXPECT_EQ(pcpNonce(renewed), pcpNonce(router.received()[0].data));

    if (lease < 8) {
        // A lease shorter than the spacing is renewed every four seconds, not more often.
        const auto next = nextSend(*renewal + 1h);
        ASSERT_TRUE(next);
        EXPECT_EQ(*next - *renewal, 4000ms);
    }
    pump();
    EXPECT_EQ(replies.size(), 1u) << "an unchanged renewal is no news";
}

INSTANTIATE_TEST_SUITE_P(GrantedLeases, LeaseTest, ::testing::Values(0u, 1u, 7200u, 4294967295u));

TEST_F(NatPmpPcpClientFixture, RouterThatAnswersOnlyOnceGetsRenewalsUntilTheLeaseRunsOut)
{
    router.grantedLease = 120;
    openBoth();
    ASSERT_TRUE(waitForReplies(1));
    router.speaks = Router::Speaks::Nothing;

    std::vector<milliseconds> attempts;
    while (const auto sent = nextSend(1h))
        attempts.push_back(*sent);

    ASSERT_GE(attempts.size(), 3u);
    EXPECT_GE(attempts[0], 60s);
    EXPECT_LE(attempts[0], 75s);
    EXPECT_GE(attempts[1], 90s);
    EXPECT_LE(attempts[1], 97500ms);
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        EXPECT_LT(attempts[i], 120s) << "no renewal after the lease has run out";
        if (i > 0) {
            EXPECT_GE(attempts[i] - attempts[i - 1], 4s);
        }
    }
    for (std::size_t i = 2; i < router.received().size(); ++i)
        EXPECT_NE(lifetime(router.received()[i].data), 0u) << "single renewals, no deletions";

    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].errorCode, KCDNSServiceError::Timeout);
    EXPECT_EQ(replies[1].externalPort, 0);
    EXPECT_EQ(replyTimes[1], std::max<milliseconds>(120s, attempts.back() + 4s));
}

TEST_F(NatPmpPcpClientFixture, FailedRenewalReportsTheRoutersLastError)
{
    router.grantedLease = 120;
    openBoth();
    ASSERT_TRUE(waitForReplies(1));
    router.resultCode = 8; // NO_RESOURCES
    while (nextSend(1h)) {
    }
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].errorCode, KCDNSServiceError::NATTraversal);
}

TEST_F(NatPmpPcpClientFixture, RouterWhoseEpochWentBackGetsTheMappingsAgainAtOnce)
{
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));
    router.restart();
    const auto renewal = nextSend(3h);
    ASSERT_TRUE(renewal);
    ASSERT_TRUE(waitForReplies(2));
    ASSERT_EQ(router.received().size(), 6u) << "creation, renewal, creation again";
    EXPECT_EQ(router.received()[4].at, *renewal) << "at once";
    EXPECT_EQ(replyTimes[1], *renewal);
    EXPECT_EQ(replies[1].errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(replies[1].externalPort, 23456);
}

struct AnnouncementCase {
    const char *name;
    // Builds the announcement; may restart the router or change its public address first.
    std::function<QByteArray(Router &router)> announcement;
    // An announcement of the router's same run went before, and was acted on.
    bool repeated;
    bool asksAgain;
    bool fromAnotherPort = false;
};

class AnnouncementTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<AnnouncementCase> {};

TEST_P(AnnouncementTest, AsksAgainAtOnceUnlessItRepeatsAnEarlierOneWithNothingNew)
{
    const AnnouncementCase &c = GetParam();
    KCLogCapture log;
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));
    const uint16_t port = client->announcementListenPort();
    ASSERT_NE(port, 0);
    clock.advance(100s);
    if (c.repeated) {
        router.announce(port, Router::pcpHeader(0x80, 0, 0, router.epoch()));
        ASSERT_TRUE(waitForReplies(2));
        clock.advance(10s);
    }
    const std::size_t repliesBefore = replies.size();
    const std::size_t sentBefore = router.received().size();
    const milliseconds announcedAt = clock.now();

    const QByteArray announcement = c.announcement(router);
    if (c.fromAnotherPort) {
        QUdpSocket other;
        ASSERT_TRUE(other.bind(QHostAddress::LocalHost, 0));
        other.writeDatagram(announcement, QHostAddress::LocalHost, port);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.contains(QStringLiteral("ignored an announcement")); }, 5000));
    } else {
        router.announce(port, announcement);
    }
    if (!c.asksAgain) {
        // A restart announced after it shows that the first announcement has been dealt with.
        router.restart();
        router.announce(port, Router::pcpHeader(0x80, 0, 0, router.epoch()));
    }
    ASSERT_TRUE(waitForReplies(repliesBefore + 1));
    pump();
    ASSERT_EQ(router.received().size(), sentBefore + 2) << "asked again once";
    EXPECT_EQ(router.received()[sentBefore].at, announcedAt) << "at once";
    EXPECT_EQ(replies.back().errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(replies.back().externalAddress, netOrder(router.publicAddress));
}

QByteArray restartAndAnnounce(Router &r)
{
    r.restart();
    return Router::pcpHeader(0x80, 0, 0, r.epoch());
}

QByteArray announceAgain(Router &r)
{
    return Router::pcpHeader(0x80, 0, 0, r.epoch());
}

INSTANTIATE_TEST_SUITE_P(
    Announcements, AnnouncementTest,
    ::testing::Values(
        AnnouncementCase{"PcpAnnounceWithEpochBack", restartAndAnnounce, false, true},
        AnnouncementCase{"NatPmpAnnouncementWithEpochBack",
                         [](Router &r) {
                             r.restart();
                             return Router::natPmpAddressAnswer(0, r.epoch(), PublicAddress);
                         },
                         false, true},
        // A router back within a second or two has an epoch that looks right.
        AnnouncementCase{"FirstAnnounceOfAQuickRestart", announceAgain, false, true},
        AnnouncementCase{"RepeatedAnnounce", announceAgain, true, false},
        AnnouncementCase{"RepeatedAnnouncementWithTheSameAddress",
                         [](Router &r) { return Router::natPmpAddressAnswer(0, r.epoch(), PublicAddress); }, true, false},
        AnnouncementCase{"RepeatedAnnouncementOfANewAddress",
                         [](Router &r) {
                             r.publicAddress = OtherPublicAddress;
                             return Router::natPmpAddressAnswer(0, r.epoch(), OtherPublicAddress);
                         },
                         true, true},
        AnnouncementCase{"AnnouncementFromAnotherPort", restartAndAnnounce, false, false, true}),
    NamedCase());

TEST_F(NatPmpPcpClientFixture, RenewalWithANewPublicAddressOrPortIsAFurtherReply)
{
    router.grantedLease = 600;
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));

    router.publicAddress = OtherPublicAddress;
    ASSERT_TRUE(nextSend(1h));
    ASSERT_TRUE(waitForReplies(2));
    EXPECT_EQ(replies[1].externalAddress, netOrder(OtherPublicAddress));
    EXPECT_EQ(replies[1].externalPort, 23456);

    ASSERT_TRUE(nextSend(2h)); // unchanged
    router.grantedPort = 34567;
    ASSERT_TRUE(nextSend(3h));
    ASSERT_TRUE(waitForReplies(3));
    EXPECT_EQ(replies[2].externalPort, 34567);
    EXPECT_EQ(replies.size(), 3u) << "the unchanged renewal in between was no news";
}

TEST_F(NatPmpPcpClientFixture, FailedRequestIsMadeAgainWhenTheRouterAnnouncesItself)
{
    router.speaks = Router::Speaks::Nothing;
    openBoth();
    while (nextSend(10s)) {
    }
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::Timeout);

    router.speaks = Router::Speaks::Both;
    router.announce(client->announcementListenPort(), Router::pcpHeader(0x80, 0, 0, router.epoch()));
    ASSERT_TRUE(waitForReplies(2));
    EXPECT_EQ(replies[1].errorCode, KCDNSServiceError::NoError);
}

struct EpochCase {
    const char *name;
    KCNATServerEpoch::Rule rule;
    uint32_t laterEpoch;
    milliseconds later;
    bool consistent;
};

class EpochTest : public ::testing::TestWithParam<EpochCase> {};

TEST_P(EpochTest, TellsARestartFromClockDrift)
{
    KCNATServerEpoch epoch;
    EXPECT_TRUE(epoch.observe(1000, 5s, GetParam().rule)) << "the first packet is believed";
    EXPECT_EQ(epoch.observe(GetParam().laterEpoch, 5s + GetParam().later, GetParam().rule), GetParam().consistent);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EpochTest,
    ::testing::Values(EpochCase{"PcpOneSecondBackIsReordering", KCNATServerEpoch::Rule::Pcp, 999, 1s, true},
                      EpochCase{"PcpTwoSecondsBackIsARestart", KCNATServerEpoch::Rule::Pcp, 998, 0s, false},
                      EpochCase{"PcpInStep", KCNATServerEpoch::Rule::Pcp, 1100, 100s, true},
                      EpochCase{"PcpSixteenthSlowIsFine", KCNATServerEpoch::Rule::Pcp, 1092, 100s, true},
                      EpochCase{"PcpFarBehindIsARestart", KCNATServerEpoch::Rule::Pcp, 1010, 100s, false},
                      EpochCase{"PcpFarAheadIsLostState", KCNATServerEpoch::Rule::Pcp, 1200, 100s, false},
                      EpochCase{"NatPmpSevenEighthsLess2sIsFine", KCNATServerEpoch::Rule::NatPmp, 1086, 100s, true},
                      EpochCase{"NatPmpBelowThatIsARestart", KCNATServerEpoch::Rule::NatPmp, 1085, 100s, false},
                      EpochCase{"NatPmpAheadIsFine", KCNATServerEpoch::Rule::NatPmp, 5000, 100s, true},
                      EpochCase{"NatPmpLongRunNoOverflow", KCNATServerEpoch::Rule::NatPmp, 4294967295u,
                                milliseconds(int64_t(4294966295) * 1000), true}),
    NamedCase());
