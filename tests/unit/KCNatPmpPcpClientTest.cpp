#include "KCNatPmpPcpClientFixture.h"

#include "KCDNSServiceError.h"
#include "KCLogCapture.h"

using namespace std::chrono_literals;
using namespace KCNATRequestFields;
using Router = KCScriptedNATRouter;

namespace {

constexpr uint32_t Both = KCNATProtocol::TCP | KCNATProtocol::UDP;
constexpr uint32_t PublicAddress = 0xCB007107; // 203.0.113.7

std::vector<QByteArray> requestsOfVersion(const KCScriptedNATRouter &router, char version)
{
    std::vector<QByteArray> result;
    for (const auto &received : router.received())
        if (!received.data.isEmpty() && received.data[0] == version)
            result.push_back(received.data);
    return result;
}

} // namespace

TEST_F(NatPmpPcpClientFixture, PcpMapsTcpAndUdpOnOnePublicPortAndRepliesOnceForBoth)
{
    router.grantedPort = 23456;
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));

    ASSERT_EQ(router.received().size(), 2u);
    const QByteArray tcp = router.received()[0].data;
    const QByteArray udp = router.received()[1].data;
    for (const QByteArray &sent : {tcp, udp}) {
        EXPECT_EQ(sent.size(), 60);
        EXPECT_EQ(uint8_t(sent[0]), 2);
        EXPECT_EQ(uint8_t(sent[1]), 1); // MAP
        EXPECT_EQ(lifetime(sent), 7200u);
        EXPECT_EQ(internalPort(sent), 5900);
        EXPECT_EQ(suggestedPort(sent), 23456);
        EXPECT_EQ(pcpClientAddress(sent), QByteArray::fromHex("00000000000000000000ffff7f000001"));
        EXPECT_NE(pcpNonce(sent), QByteArray(12, '\0'));
    }
    EXPECT_EQ(pcpProtocol(tcp), 6);
    EXPECT_EQ(pcpProtocol(udp), 17);
    EXPECT_NE(pcpNonce(tcp), pcpNonce(udp));

    const KCNATPortMappingReply &reply = replies[0];
    EXPECT_EQ(reply.errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(reply.externalAddress, netOrder(PublicAddress));
    EXPECT_EQ(reply.externalPort, 23456);
    EXPECT_EQ(reply.protocol, Both);
    EXPECT_EQ(reply.internalPort, 5900);
    EXPECT_EQ(reply.ttl, 7200u);
    EXPECT_EQ(reply.interfaceIndex, loopbackIndex());
    EXPECT_EQ(reply.flags, 0u);
    pump();
    EXPECT_EQ(replies.size(), 1u);
}

struct FallbackCase {
    const char *name;
    std::function<QByteArray(uint32_t epoch)> answerToPcp;
};

class NatPmpFallbackTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(NatPmpFallbackTest, RouterThatDoesNotSpeakPcpGetsNatPmpAndIsRemembered)
{
    router.grantedPort = 23456;
    router.answer = [this](const QByteArray &sent) -> std::optional<QByteArray> {
        if (isPcp(sent))
            return GetParam().answerToPcp(router.epoch());
        return router.answerFor(sent);
    };
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(replies[0].externalPort, 23456);
    EXPECT_EQ(replies[0].externalAddress, netOrder(PublicAddress));
    EXPECT_EQ(replies[0].protocol, Both);

    std::vector<uint8_t> opcodes;
    for (const QByteArray &sent : requestsOfVersion(router, 0)) {
        opcodes.push_back(natPmpOpcode(sent));
        if (natPmpOpcode(sent) != 0) {
            EXPECT_EQ(sent.size(), 12);
            EXPECT_EQ(lifetime(sent), 7200u);
            EXPECT_EQ(internalPort(sent), 5900);
            EXPECT_EQ(suggestedPort(sent), 23456);
        }
    }
    EXPECT_THAT(opcodes, ::testing::UnorderedElementsAre(0, 1, 2));

    // A second request to the same router starts with NAT-PMP.
    const std::size_t before = router.received().size();
    std::unique_ptr<KCNATPortMappingRequest> first = std::move(request);
    open(KCNATProtocol::TCP, 22);
    ASSERT_TRUE(router.waitForRequests(before + 1));
    EXPECT_EQ(router.received()[before].data[0], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NatPmpFallbackTest,
    ::testing::Values(
        FallbackCase{"PcpUnsupportedVersion", [](uint32_t e) { return Router::pcpHeader(0x81, 1, 0, e); }},
        FallbackCase{"NatPmpAnswerWithOpcode129", [](uint32_t e) { return Router::natPmpShortError(0x81, 1, e); }},
        FallbackCase{"NatPmpAnswerWithOpcode128", [](uint32_t e) { return Router::natPmpShortError(0x80, 1, e); }}),
    NamedCase());

TEST_F(NatPmpPcpClientFixture, AddressOnlyRequestAsksNatPmpForThePublicAddress)
{
    open(0, 0);
    ASSERT_TRUE(waitForReplies(1));
    ASSERT_EQ(router.received().size(), 1u);
    EXPECT_EQ(router.received()[0].data, QByteArray::fromHex("0000"));
    const KCNATPortMappingReply &reply = replies[0];
    EXPECT_EQ(reply.errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(reply.externalAddress, netOrder(PublicAddress));
    EXPECT_EQ(reply.externalPort, 0);
    EXPECT_EQ(reply.internalPort, 0);
    EXPECT_EQ(reply.protocol, 0u);
    EXPECT_EQ(reply.ttl, 0u);
    request.reset();
    pump();
    EXPECT_EQ(router.received().size(), 1u) << "nothing to delete";
}

TEST_F(NatPmpPcpClientFixture, AddressOnlyRequestOnPcpOnlyRouterProbesWithAShortMapAndDeletesIt)
{
    router.speaks = Router::Speaks::PcpOnly;
    open(0, 0);
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(replies[0].externalAddress, netOrder(PublicAddress));
    EXPECT_EQ(replies[0].externalPort, 0);

    ASSERT_TRUE(router.waitForRequests(3));
    const auto &probe = router.received()[1];
    ASSERT_TRUE(isPcp(probe.data));
    EXPECT_EQ(pcpProtocol(probe.data), 17);
    EXPECT_EQ(internalPort(probe.data), probe.fromPort) << "maps only the request's own socket";
    EXPECT_EQ(lifetime(probe.data), 120u);
    const QByteArray deletion = router.received()[2].data;
    EXPECT_EQ(lifetime(deletion), 0u);
    EXPECT_EQ(pcpNonce(deletion), pcpNonce(probe.data));
}

TEST_F(NatPmpPcpClientFixture, RetransmitsAt250And750MillisecondsAndTimesOutAt1750)
{
    router.speaks = Router::Speaks::Nothing;
    openBoth();
    ASSERT_TRUE(router.waitForRequests(2));
    EXPECT_EQ(nextSend(10s), 250ms);
    EXPECT_EQ(nextSend(10s), 750ms);
    EXPECT_TRUE(replies.empty());
    // At the time-out the mappings are deleted, in case the router made them and only its
    // answers were lost.
    EXPECT_EQ(nextSend(10s), 1750ms);
    ASSERT_EQ(router.received().size(), 8u) << "three tries of two mappings, then two deletions";
    EXPECT_EQ(lifetime(router.received()[6].data), 0u);
    EXPECT_EQ(lifetime(router.received()[7].data), 0u);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replyTimes[0], 1750ms);
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::Timeout);
    EXPECT_EQ(replies[0].externalPort, 0);
    EXPECT_EQ(replies[0].externalAddress, 0u);
    EXPECT_EQ(replies[0].protocol, Both);
    EXPECT_EQ(nextSend(1h), std::nullopt) << "nothing more until the router announces itself";
}

// Each bad answer comes while a TCP mapping of port 5900 is asked for, and would map public port
// 11111 if it were believed; the good answer after it maps 22222.
struct BadPacketCase {
    const char *name;
    bool natPmp;
    std::function<QByteArray(const QByteArray &request, uint32_t epoch)> bad;
    enum class From { TheRouter, OtherPort, OtherAddress } from = From::TheRouter;
};

class BadPacketTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<BadPacketCase> {};

QByteArray pcpGood(const QByteArray &request, uint32_t epoch)
{
    return Router::pcpMapAnswer(request, 0, 7200, epoch, 11111, PublicAddress);
}

QByteArray natPmpGood(const QByteArray &, uint32_t epoch)
{
    return Router::natPmpMapAnswer(2, 0, epoch, 5900, 11111, 7200);
}

template <typename Edit>
std::function<QByteArray(const QByteArray &, uint32_t)> edited(QByteArray (*good)(const QByteArray &, uint32_t), Edit edit)
{
    return [good, edit](const QByteArray &request, uint32_t epoch) {
        QByteArray packet = good(request, epoch);
        edit(packet);
        return packet;
    };
}

TEST_P(BadPacketTest, IsIgnoredAndTheRequestGoesOnBeingRetransmitted)
{
    const BadPacketCase &bad = GetParam();
    KCLogCapture log;
    router.answer = [&](const QByteArray &sent) -> std::optional<QByteArray> {
        if (bad.natPmp && isPcp(sent))
            return Router::natPmpShortError(0x81, 1, router.epoch());
        return std::nullopt;
    };
    open(KCNATProtocol::TCP, 5900, 22222);
    // PCP: the MAP. NAT-PMP: the PCP try, then the TCP mapping and the address.
    ASSERT_TRUE(router.waitForRequests(bad.natPmp ? 3 : 1));
    const QByteArray tcpRequest = router.received()[bad.natPmp ? 1 : 0].data;
    const QByteArray packet = bad.bad(tcpRequest, router.epoch());

    if (bad.from == BadPacketCase::From::TheRouter) {
        router.send(packet);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.contains(QStringLiteral("ignored a packet")); }, 5000));
    } else {
        QUdpSocket other;
        ASSERT_TRUE(other.bind(QHostAddress(bad.from == BadPacketCase::From::OtherAddress ? QStringLiteral("127.0.0.2")
                                                                                         : QStringLiteral("127.0.0.1")),
                               0));
        other.writeDatagram(packet, QHostAddress::LocalHost, router.received().back().fromPort);
        pump();
    }
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(nextSend(10s), 250ms) << "the bad packet must not stop the retransmission";

    if (bad.natPmp) {
        router.send(Router::natPmpMapAnswer(2, 0, router.epoch(), 5900, 22222, 7200));
        router.send(Router::natPmpAddressAnswer(0, router.epoch(), PublicAddress));
    } else {
        router.send(Router::pcpMapAnswer(tcpRequest, 0, 7200, router.epoch(), 22222, PublicAddress));
    }
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(replies[0].externalPort, 22222);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, BadPacketTest,
    ::testing::Values(
        BadPacketCase{"PcpShortMap", false, edited(pcpGood, [](QByteArray &p) { p.truncate(56); })},
        BadPacketCase{"PcpShorterThanItsHeader", false, edited(pcpGood, [](QByteArray &p) { p.truncate(20); })},
        BadPacketCase{"PcpLongerThan1100Bytes", false, edited(pcpGood, [](QByteArray &p) { p += QByteArray(1044, '\0'); })},
        BadPacketCase{"PcpNotWholeWords", false, edited(pcpGood, [](QByteArray &p) { p += QByteArray(2, '\0'); })},
        BadPacketCase{"PcpOptionLongerThanPacket", false,
                      edited(pcpGood, [](QByteArray &p) { p += QByteArray::fromHex("0100000800000000"); })},
        BadPacketCase{"PcpUnknownVersion", false, edited(pcpGood, [](QByteArray &p) { p[0] = 3; })},
        BadPacketCase{"PcpVersionOne", false, edited(pcpGood, [](QByteArray &p) { p[0] = 1; })},
        BadPacketCase{"PcpRequestNotReply", false, edited(pcpGood, [](QByteArray &p) { p[1] = 0x01; })},
        BadPacketCase{"PcpWrongOpcode", false, edited(pcpGood, [](QByteArray &p) { p[1] = char(0x82); })},
        BadPacketCase{"PcpAnnounceOpcode", false, edited(pcpGood, [](QByteArray &p) { p[1] = char(0x80); })},
        BadPacketCase{"PcpWrongNonce", false, edited(pcpGood, [](QByteArray &p) { p[24] = char(p[24] ^ 0x01); })},
        BadPacketCase{"PcpWrongInternalPort", false, edited(pcpGood, [](QByteArray &p) { p[41] = char(p[41] + 1); })},
        BadPacketCase{"PcpWrongProtocol", false, edited(pcpGood, [](QByteArray &p) { p[36] = 17; })},
        BadPacketCase{"PcpErrorWithoutNonce", false, [](const QByteArray &, uint32_t e) { return Router::pcpHeader(0x81, 2, 0, e); }},
        BadPacketCase{"PcpFromAnotherPort", false, pcpGood, BadPacketCase::From::OtherPort},
        BadPacketCase{"PcpFromAnotherAddress", false, pcpGood, BadPacketCase::From::OtherAddress},
        BadPacketCase{"NatPmpShort", true, edited(natPmpGood, [](QByteArray &p) { p.truncate(15); })},
        BadPacketCase{"NatPmpLong", true, edited(natPmpGood, [](QByteArray &p) { p += '\0'; })},
        BadPacketCase{"NatPmpUnknownVersion", true, edited(natPmpGood, [](QByteArray &p) { p[0] = 5; })},
        BadPacketCase{"NatPmpPcpSizedReply", true,
                      [](const QByteArray &, uint32_t e) { return Router::pcpHeader(0x82, 0, 7200, e); }},
        BadPacketCase{"NatPmpOpcodeNotAskedFor", true, edited(natPmpGood, [](QByteArray &p) { p[1] = char(129); })},
        BadPacketCase{"NatPmpUnknownOpcode", true, edited(natPmpGood, [](QByteArray &p) { p[1] = char(131); })},
        BadPacketCase{"NatPmpRequestNotReply", true, edited(natPmpGood, [](QByteArray &p) { p[1] = 2; })},
        BadPacketCase{"NatPmpWrongInternalPort", true, edited(natPmpGood, [](QByteArray &p) { p[9] = char(p[9] + 1); })},
        BadPacketCase{"NatPmpFromAnotherPort", true, natPmpGood, BadPacketCase::From::OtherPort}),
    NamedCase());

TEST_F(NatPmpPcpClientFixture, AFloodOfBadPacketsIsLoggedOnce)
{
    KCLogCapture log;
    router.speaks = Router::Speaks::Nothing;
    open(KCNATProtocol::TCP, 5900, 22222);
    ASSERT_TRUE(router.waitForRequests(1));
    const QByteArray sent = router.received()[0].data;
    QByteArray wrongNonce = Router::pcpMapAnswer(sent, 0, 7200, router.epoch(), 11111, PublicAddress);
    wrongNonce[30] = char(wrongNonce[30] ^ 0xff);
    for (int i = 0; i < 200; ++i)
        router.send(wrongNonce);
    router.send(Router::pcpMapAnswer(sent, 0, 7200, router.epoch(), 22222, PublicAddress));
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].externalPort, 22222);
    EXPECT_EQ(log.count(QStringLiteral("ignored a packet")), 1);
}

TEST_F(NatPmpPcpClientFixture, IcmpPortUnreachableFailsAtOnce)
{
    uint16_t closedPort;
    {
        QUdpSocket probe;
        ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
        closedPort = probe.localPort();
    }
    KCNatPmpPcpEndpoints endpoints;
    endpoints.serverPort = closedPort;
    endpoints.announcementPort = 0;
    client = std::make_unique<KCNatPmpPcpClient>([this] { return gateway; }, clock, endpoints);
    openBoth();
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::NATPortMappingUnsupported);
    EXPECT_EQ(replyTimes[0], 0ms) << "without waiting for the retransmissions";
    EXPECT_EQ(replies[0].externalPort, 0);
}

struct NoRouterCase {
    const char *name;
    std::optional<KCNATGateway> gateway;
    uint32_t interfaceIndex;
};

class NoRouterTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<NoRouterCase> {};

TEST_P(NoRouterTest, RepliesNoRouterFromTheEventLoop)
{
    gateway = GetParam().gateway;
    KCNATPortMappingParameters parameters;
    parameters.protocols = Both;
    parameters.internalPort = 5900;
    parameters.interfaceIndex = GetParam().interfaceIndex;
    KCNATPortMappingService::Creation creation = client->createPortMapping(
        parameters, [this](const KCNATPortMappingReply &reply) { replies.push_back(reply); });
    ASSERT_EQ(creation.errorCode, 0);
    ASSERT_TRUE(creation.request);
    EXPECT_TRUE(replies.empty()) << "never from inside createPortMapping";
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::NoRouter);
    EXPECT_EQ(replies[0].interfaceIndex, 0u);
    EXPECT_EQ(replies[0].externalPort, 0);
    EXPECT_TRUE(router.received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Gateways, NoRouterTest,
    ::testing::Values(
        NoRouterCase{"NoDefaultRoute", std::nullopt, 0},
        NoRouterCase{"NotIPv4", KCNATGateway{QHostAddress(QHostAddress::LocalHostIPv6), QStringLiteral("lo"), 1}, 0},
        NoRouterCase{"OtherInterfaceAskedFor",
                     KCNATGateway{QHostAddress(QHostAddress::LocalHost), QStringLiteral("lo"), 1}, 999}),
    NamedCase());

TEST_F(NatPmpPcpClientFixture, RefusesParametersItCannotServe)
{
    struct Case {
        uint32_t flags, protocols;
        uint16_t internalPort, externalPort;
        int32_t code;
    };
    for (const Case &c : {Case{1, Both, 5900, 0, KCDNSServiceError::BadFlags},
                          Case{0, 4, 5900, 0, KCDNSServiceError::BadParam},
                          Case{0, KCNATProtocol::TCP, 0, 0, KCDNSServiceError::BadParam},
                          Case{0, 0, 5900, 0, KCDNSServiceError::BadParam},
                          Case{0, 0, 0, 23456, KCDNSServiceError::BadParam}}) {
        KCNATPortMappingParameters parameters;
        parameters.flags = c.flags;
        parameters.protocols = c.protocols;
        parameters.internalPort = c.internalPort;
        parameters.externalPort = c.externalPort;
        const KCNATPortMappingService::Creation creation =
            client->createPortMapping(parameters, [](const KCNATPortMappingReply &) {});
        EXPECT_EQ(creation.errorCode, c.code) << c.flags << " " << c.protocols << " " << c.internalPort;
        EXPECT_FALSE(creation.request);
    }
    pump();
    EXPECT_TRUE(router.received().empty());
}

struct ReleaseCase {
    const char *name;
    Router::Speaks speaks;
    bool waitForMapping;
};

class ReleaseTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ReleaseTest, DeletesEveryMappingWithoutWaiting)
{
    router.speaks = GetParam().speaks;
    openBoth(23456);
    if (GetParam().waitForMapping)
        ASSERT_TRUE(waitForReplies(1));
    else
        ASSERT_TRUE(router.waitForRequests(2));
    const std::vector<Router::Received> before = router.received();
    request.reset();
    ASSERT_TRUE(router.waitForRequests(before.size() + 2));
    pump();
    ASSERT_EQ(router.received().size(), before.size() + 2) << "two deletions, no address request";
    const std::size_t repliesBefore = replies.size();
    for (std::size_t i = before.size(); i < router.received().size(); ++i) {
        const QByteArray deletion = router.received()[i].data;
        EXPECT_EQ(lifetime(deletion), 0u);
        EXPECT_EQ(internalPort(deletion), 5900);
        EXPECT_EQ(router.received()[i].at, before.back().at) << "at once";
        if (isPcp(deletion)) {
            const bool nonceWasUsed = std::any_of(before.begin(), before.end(), [&](const Router::Received &r) {
                return isPcp(r.data) && pcpNonce(r.data) == pcpNonce(deletion) && pcpProtocol(r.data) == pcpProtocol(deletion);
            });
            EXPECT_TRUE(nonceWasUsed) << "deletes the mapping it made";
        } else {
            EXPECT_EQ(suggestedPort(deletion), 0);
            EXPECT_NE(natPmpOpcode(deletion), 0);
        }
    }
    pump();
    EXPECT_EQ(replies.size(), repliesBefore);
}

INSTANTIATE_TEST_SUITE_P(Requests, ReleaseTest,
                         ::testing::Values(ReleaseCase{"PcpMapped", Router::Speaks::Both, true},
                                           ReleaseCase{"NatPmpMapped", Router::Speaks::NatPmpOnly, true},
                                           ReleaseCase{"PcpUnanswered", Router::Speaks::Nothing, false}),
                         NamedCase());

TEST_F(NatPmpPcpClientFixture, DifferentPublicPortsForTcpAndUdpKeepTcpAndDeleteUdp)
{
    router.grantedPort = 23456;
    router.grantedUdpPort = 34567;
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, KCDNSServiceError::NoError);
    EXPECT_EQ(replies[0].externalPort, 23456);
    EXPECT_EQ(replies[0].protocol, KCNATProtocol::TCP);
    ASSERT_TRUE(router.waitForRequests(3));
    const QByteArray deletion = router.received()[2].data;
    EXPECT_EQ(pcpProtocol(deletion), 17);
    EXPECT_EQ(lifetime(deletion), 0u);
    EXPECT_EQ(pcpNonce(deletion), pcpNonce(router.received()[1].data));

    // Releasing deletes TCP only: UDP is gone already.
    request.reset();
    ASSERT_TRUE(router.waitForRequests(4));
    pump();
    ASSERT_EQ(router.received().size(), 4u);
    EXPECT_EQ(pcpProtocol(router.received()[3].data), 6);
}

struct ResultCase {
    const char *name;
    Router::Speaks speaks;
    uint8_t routerCode;
    int32_t expected;
};

class RouterResultTest : public NatPmpPcpClientFixture, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(RouterResultTest, BecomesTheServiceDiscoveryCode)
{
    router.speaks = GetParam().speaks;
    router.resultCode = GetParam().routerCode;
    openBoth(23456);
    ASSERT_TRUE(waitForReplies(1));
    EXPECT_EQ(replies[0].errorCode, GetParam().expected);
    EXPECT_EQ(replies[0].externalPort, 0) << "a failure never looks like a mapped port";
    EXPECT_EQ(replies[0].externalAddress, 0u);
    EXPECT_EQ(replies[0].ttl, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RouterResultTest,
    ::testing::Values(ResultCase{"PcpNotAuthorized", Router::Speaks::Both, 2, KCDNSServiceError::NATPortMappingDisabled},
                      ResultCase{"PcpMalformedRequest", Router::Speaks::Both, 3, KCDNSServiceError::BadParam},
                      ResultCase{"PcpNetworkFailure", Router::Speaks::Both, 7, KCDNSServiceError::NATTraversal},
                      ResultCase{"PcpUnsupportedProtocol", Router::Speaks::Both, 9, KCDNSServiceError::NATPortMappingUnsupported},
                      ResultCase{"PcpAddressMismatch", Router::Speaks::Both, 12, KCDNSServiceError::DoubleNAT},
                      ResultCase{"PcpUnknownCode", Router::Speaks::Both, 99, KCDNSServiceError::Unknown},
                      ResultCase{"NatPmpRefused", Router::Speaks::NatPmpOnly, 2, KCDNSServiceError::NATPortMappingDisabled},
                      ResultCase{"NatPmpNetworkFailure", Router::Speaks::NatPmpOnly, 3, KCDNSServiceError::NATTraversal},
                      ResultCase{"NatPmpOutOfResources", Router::Speaks::NatPmpOnly, 4, KCDNSServiceError::NATTraversal},
                      ResultCase{"NatPmpUnsupportedOpcode", Router::Speaks::NatPmpOnly, 5, KCDNSServiceError::NATPortMappingUnsupported}),
    NamedCase());

TEST_F(NatPmpPcpClientFixture, TheReplyHandlerMayReleaseTheRequest)
{
    // Once on a success, once on a time-out.
    for (const Router::Speaks speaks : {Router::Speaks::Both, Router::Speaks::Nothing}) {
        router.speaks = speaks;
        const std::size_t sentBefore = router.received().size();
        KCNATPortMappingParameters parameters;
        parameters.protocols = Both;
        parameters.internalPort = 5900;
        int calls = 0;
        KCNATPortMappingService::Creation creation =
            client->createPortMapping(parameters, [&](const KCNATPortMappingReply &) {
                ++calls;
                request.reset();
            });
        ASSERT_EQ(creation.errorCode, 0);
        request = std::move(creation.request);
        ASSERT_TRUE(router.waitForRequests(sentBefore + 2));
        if (speaks == Router::Speaks::Nothing)
            while (request && clock.fireNext())
                pump();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !request; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return lifetime(router.received().back().data) == 0; }, 5000))
            << "its mappings are deleted";
        pump();
        EXPECT_EQ(calls, 1);
    }
}
