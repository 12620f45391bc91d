#include "KCDNSServiceError.h"
#include "KCDaemonUPnPDiscovery.h"
#include "KCDaemonUPnPJobs.h"
#include "KCFakeUPnPIGDClient.h"
#include "KCIPv4Address.h"
#include "KCLogCapture.h"

#include <gtest/gtest.h>

namespace {

const uint32_t kGateway = *KCIPv4Address::parse("192.168.1.1");
constexpr uint16_t kInternalPort = 5900;
constexpr uint16_t kRequestedPort = 23456;

uint32_t address(const char *text)
{
    return *KCIPv4Address::parse(text);
}

class UPnPJobs : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Every path releases the device list and the session it opened.
        EXPECT_EQ(client.liveDeviceLists, 0);
        EXPECT_EQ(client.liveSessions, 0);
    }

    KCFakeUPnPIGDClient client;
    KCLogCapture log;
};

bool inRandomRange(uint16_t port)
{
    return port >= 10000 && port <= 49151;
}

struct MappingCase {
    const char *name;
    QMap<QByteArray, QList<int>> addReplies;
    int externalIPResult = 0;
    QByteArray externalIPAddress = "203.0.113.7";
    QByteArray wanAddress;
    int32_t code;
    const char *reportedAddress; // nullptr: 0
    bool mapped;
    int tcpTries;
    const char *logLine; // nullptr: no refusal logged
};

TEST_F(UPnPJobs, MappingJobOutcomes)
{
    const std::vector<MappingCase> cases = {
        {"accepted at once", {}, 0, "203.0.113.7", {}, KCDNSServiceError::NoError, "203.0.113.7", true, 1, nullptr},
        {"three conflicts, then accepted", {{"TCP", {718, 718, 718}}}, 0, "203.0.113.7", {}, KCDNSServiceError::NoError,
            "203.0.113.7", true, 4, "miniupnpc TCP AddPortMapping failed with error 718"},
        {"four conflicts", {{"TCP", {718, 718, 718, 718}}}, 0, "203.0.113.7", {}, KCDNSServiceError::Invalid, nullptr,
            false, 4, "miniupnpc TCP AddPortMapping failed with error 718"},
        {"UDP conflicts once", {{"UDP", {718}}}, 0, "203.0.113.7", {}, KCDNSServiceError::NoError, "203.0.113.7", true,
            2, "miniupnpc UDP AddPortMapping failed with error 718"},
        {"TCP not authorised", {{"TCP", {606}}}, 0, "203.0.113.7", {}, KCDNSServiceError::NATPortMappingDisabled,
            nullptr, false, 1, "miniupnpc TCP AddPortMapping failed with error 606"},
        {"UDP not authorised after TCP was added", {{"UDP", {606}}}, 0, "203.0.113.7", {},
            KCDNSServiceError::NATPortMappingDisabled, nullptr, false, 1,
            "miniupnpc UDP AddPortMapping failed with error 606"},
        {"TCP only permanent leases", {{"TCP", {725}}}, 0, "203.0.113.7", {},
            KCDNSServiceError::NATPortMappingUnsupported, nullptr, false, 1,
            "miniupnpc TCP AddPortMapping failed with error 725"},
        {"UDP only permanent leases", {{"UDP", {725}}}, 0, "203.0.113.7", {},
            KCDNSServiceError::NATPortMappingUnsupported, nullptr, false, 1,
            "miniupnpc UDP AddPortMapping failed with error 725"},
        {"other refusal", {{"TCP", {501}}}, 0, "203.0.113.7", {}, KCDNSServiceError::Unknown, nullptr, false, 1,
            "miniupnpc TCP AddPortMapping failed with error 501"},
        {"library failure on UDP", {{"UDP", {-3}}}, 0, "203.0.113.7", {}, KCDNSServiceError::Unknown, nullptr, false,
            1, "miniupnpc UDP AddPortMapping failed with error -3"},
        {"external address fails, WAN address stands in", {}, 501, {}, "203.0.113.9", KCDNSServiceError::NoError,
            "203.0.113.9", true, 1, nullptr},
        {"external address empty, WAN address stands in", {}, 0, "", "203.0.113.9", KCDNSServiceError::NoError,
            "203.0.113.9", true, 1, nullptr},
        {"shared address space: double NAT", {}, 0, "100.64.1.2", {}, KCDNSServiceError::DoubleNAT, "100.64.1.2",
            false, 1, nullptr},
        {"private WAN address: double NAT", {}, 501, {}, "192.168.0.2", KCDNSServiceError::DoubleNAT, "192.168.0.2",
            false, 1, nullptr},
        {"unparsable address", {}, 0, "not-an-address", {}, KCDNSServiceError::Unknown, nullptr, false, 1, nullptr},
        {"no address at all", {}, 501, {}, {}, KCDNSServiceError::Unknown, nullptr, false, 1, nullptr},
    };
    for (const MappingCase &c : cases) {
        SCOPED_TRACE(c.name);
        client = KCFakeUPnPIGDClient();
        log.clear();
        client.script.addReplies = c.addReplies;
        client.script.externalIPResult = c.externalIPResult;
        client.script.externalIPAddress = c.externalIPAddress;
        client.script.wanAddress = c.wanAddress;

        const KCDaemonUPnPJobResult result =
            KCDaemonUPnPJobs::mappingJob(client, kGateway, kInternalPort, kRequestedPort);

        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.externalAddress, c.reportedAddress ? address(c.reportedAddress) : 0u);
        const QList<uint16_t> tcpPorts = client.addedPorts("TCP");
        ASSERT_EQ(tcpPorts.size(), c.tcpTries);
        EXPECT_EQ(tcpPorts.first(), kRequestedPort);
        for (qsizetype i = 1; i < tcpPorts.size(); ++i)
            EXPECT_TRUE(inRandomRange(tcpPorts[i])) << tcpPorts[i];
        // Every port that drew a conflict is handed back, so the caller can forget a stored one.
        const int conflicts = c.addReplies.value("TCP").count(718) + c.addReplies.value("UDP").count(718);
        EXPECT_EQ(result.conflictedPorts, tcpPorts.first(conflicts));
        if (c.mapped) {
            const uint16_t port = tcpPorts.last();
            EXPECT_EQ(result.externalPort, port);
            ASSERT_EQ(client.mappings.size(), 2);
            for (const QByteArray &protocol : {QByteArray("TCP"), QByteArray("UDP")}) {
                const KCFakeUPnPIGDClient::Mapping mapping = client.mappings.value({port, protocol});
                EXPECT_EQ(mapping.internalPort, kInternalPort);
                EXPECT_EQ(mapping.internalClient, "192.168.1.10");
                EXPECT_EQ(mapping.description, "Kovra Connect");
                EXPECT_EQ(mapping.leaseDuration, "0");
            }
        } else {
            EXPECT_EQ(result.externalPort, 0);
            EXPECT_TRUE(client.mappings.isEmpty()) << "a failed job left a mapping behind";
        }
        // Every refusal is logged with its protocol and code.
        const qsizetype refusals = c.addReplies.value("TCP").size() + c.addReplies.value("UDP").size();
        if (c.logLine)
            EXPECT_EQ(log.count(QString::fromLatin1(c.logLine)), refusals);
        else
            EXPECT_EQ(log.count(QStringLiteral("AddPortMapping failed")), 0);
        EXPECT_EQ(client.liveSessions, 0);
        EXPECT_EQ(client.liveDeviceLists, 0);
    }
}

TEST_F(UPnPJobs, MappingJobCarriesDiscoveryFailureAndDiagnostics)
{
    client.script.validIGDResult = KCUPnPValidIGD::DisconnectedIGD;
    const KCDaemonUPnPJobResult result = KCDaemonUPnPJobs::mappingJob(client, kGateway, kInternalPort, kRequestedPort);
    EXPECT_EQ(result.code, KCDNSServiceError::NATPortMappingUnsupported);
    EXPECT_EQ(result.externalPort, 0);
    EXPECT_EQ(result.externalAddress, 0u);
    ASSERT_TRUE(result.diagnostics);
    EXPECT_EQ(result.diagnostics->value(KCUPnPDiagnosticsDescriptionHostTypeKey), QStringLiteral("private-ipv4"));
    EXPECT_TRUE(client.addedPorts("TCP").isEmpty());
    EXPECT_EQ(client.calls.first(), QStringLiteral("discover 192.168.1.1"));
}

struct DiscoveryCase {
    const char *name;
    bool deviceAnswers;
    bool reportsError;
    int validIGDResult;
    int32_t code;
    bool diagnostics;
};

TEST_F(UPnPJobs, DiscoveryCodes)
{
    const std::vector<DiscoveryCase> cases = {
        {"nobody answers", false, false, 0, KCDNSServiceError::NoRouter, false},
        {"nobody answers, discovery failed", false, true, 0, KCDNSServiceError::NATTraversal, false},
        {"no usable device", true, false, KCUPnPValidIGD::NoIGD, KCDNSServiceError::NoRouter, false},
        {"connected IGD", true, false, KCUPnPValidIGD::ConnectedIGD, KCDNSServiceError::NoError, true},
        {"connected IGD, error reported on the way", true, true, KCUPnPValidIGD::ConnectedIGD,
            KCDNSServiceError::NoError, true},
        {"IGD with a private WAN address", true, false, KCUPnPValidIGD::PrivateAddressIGD, KCDNSServiceError::NoError,
            true},
        {"IGD not connected", true, false, KCUPnPValidIGD::DisconnectedIGD,
            KCDNSServiceError::NATPortMappingUnsupported, true},
        {"not an IGD", true, false, KCUPnPValidIGD::UnknownDevice, KCDNSServiceError::NATPortMappingUnsupported, true},
    };
    for (const DiscoveryCase &c : cases) {
        SCOPED_TRACE(c.name);
        client = KCFakeUPnPIGDClient();
        client.script.deviceAnswers = c.deviceAnswers;
        client.script.discoveryReportsError = c.reportsError;
        client.script.validIGDResult = c.validIGDResult;
        {
            const KCDaemonUPnPDiscoveredIGD discovered = KCDaemonUPnPDiscovery::discoverIGD(client, kGateway, true);
            EXPECT_EQ(discovered.code, c.code);
            EXPECT_EQ(bool(discovered.session), c.code == KCDNSServiceError::NoError);
            EXPECT_EQ(discovered.diagnostics.has_value(), c.diagnostics);
            EXPECT_EQ(client.liveDeviceLists, 0);
        }
        EXPECT_EQ(client.liveSessions, 0);
        EXPECT_EQ(KCDaemonUPnPJobs::diagnosticsJob(client, kGateway).has_value(), c.diagnostics);
    }
}

struct DiagnosticsURLCase {
    QByteArray url;
    QString descriptionURL;
    QString hostType;
};

TEST_F(UPnPJobs, DiagnosticsHideAddressesButKeepHostNames)
{
    const std::vector<DiagnosticsURLCase> cases = {
        {"http://192.168.1.1:5000/rootDesc.xml", QStringLiteral("http://private-ipv4:5000/rootDesc.xml"),
            QStringLiteral("private-ipv4")},
        {"http://100.64.0.1/rootDesc.xml", QStringLiteral("http://private-ipv4/rootDesc.xml"),
            QStringLiteral("private-ipv4")},
        {"http://203.0.113.5:49152/desc?x=1", QStringLiteral("http://public-ipv4:49152/desc?x=1"),
            QStringLiteral("public-ipv4")},
        {"http://igd.lan:5000/rootDesc.xml", QStringLiteral("http://igd.lan:5000/rootDesc.xml"),
            QStringLiteral("hostname")},
        {"http://[fe80::1]:5000/rootDesc.xml", QStringLiteral("http://ipv6:5000/rootDesc.xml"), QStringLiteral("ipv6")},
        {"http://[2001:db8::7]/rootDesc.xml", QStringLiteral("http://ipv6/rootDesc.xml"), QStringLiteral("ipv6")},
        {"/rootDesc.xml", QStringLiteral("/rootDesc.xml"), QStringLiteral("unknown")},
    };
    for (const DiagnosticsURLCase &c : cases) {
        SCOPED_TRACE(c.url.constData());
        client.script.rootDescriptionURL = c.url;
        const std::optional<QVariantMap> diagnostics = KCDaemonUPnPJobs::diagnosticsJob(client, kGateway);
        ASSERT_TRUE(diagnostics);
        EXPECT_EQ(diagnostics->value(KCUPnPDiagnosticsDescriptionURLKey).toString(), c.descriptionURL);
        EXPECT_EQ(diagnostics->value(KCUPnPDiagnosticsDescriptionHostTypeKey).toString(), c.hostType);
    }
}

TEST_F(UPnPJobs, DiagnosticsTakeTheRouterMakeOnlyFromADocumentThatParses)
{
    client.script.rootDescription = QByteArray("<root><device><manufacturer>Acme</manufacturer>"
                                               "<modelName>AX-3000</modelName><modelNumber>1.0</modelNumber>"
                                               "</device></root>");
    std::optional<QVariantMap> diagnostics = KCDaemonUPnPJobs::diagnosticsJob(client, kGateway);
    ASSERT_TRUE(diagnostics);
    const QVariantMap expected = {
        {QStringLiteral("descriptionURL"), QStringLiteral("http://private-ipv4:5000/rootDesc.xml")},
        {QStringLiteral("descriptionHostType"), QStringLiteral("private-ipv4")},
        {QStringLiteral("serviceType"), QStringLiteral("urn:schemas-upnp-org:service:WANIPConnection:1")},
        {QStringLiteral("manufacturer"), QStringLiteral("Acme")},
        {QStringLiteral("modelName"), QStringLiteral("AX-3000")},
        {QStringLiteral("modelNumber"), QStringLiteral("1.0")},
    };
    EXPECT_EQ(*diagnostics, expected);

    // A document cut short names the maker before it breaks: nothing of it is taken.
    client.script.rootDescription = QByteArray("<root><manufacturer>Acme</manufacturer><device>");
    client.script.serviceType.clear();
    diagnostics = KCDaemonUPnPJobs::diagnosticsJob(client, kGateway);
    ASSERT_TRUE(diagnostics);
    EXPECT_EQ(diagnostics->keys(), QStringList({QStringLiteral("descriptionHostType"), QStringLiteral("descriptionURL")}));

    // Without a description URL there is nothing to describe, and nothing is fetched.
    client.script.rootDescriptionURL.clear();
    client.calls.clear();
    EXPECT_FALSE(KCDaemonUPnPJobs::diagnosticsJob(client, kGateway));
    EXPECT_FALSE(client.calls.contains(QStringLiteral("fetchRootDescription")));
}

void addMapping(KCFakeUPnPIGDClient &client, uint16_t port, const QByteArray &protocol)
{
    client.mappings.insert({port, protocol}, {kInternalPort, "192.168.1.10", "Kovra Connect", "0"});
}

struct VerificationCase {
    const char *name;
    bool tcp;
    bool udp;
    QByteArray externalIPAddress;
    int32_t code;
    const char *reportedAddress;
};

TEST_F(UPnPJobs, VerificationJob)
{
    const std::vector<VerificationCase> cases = {
        {"both present", true, true, "203.0.113.7", KCDNSServiceError::NoError, "203.0.113.7"},
        {"both present, address changed", true, true, "198.51.100.20", KCDNSServiceError::NoError, "198.51.100.20"},
        {"UDP missing", true, false, "203.0.113.7", KCDNSServiceError::NATPortMappingUnsupported, nullptr},
        {"TCP missing", false, true, "203.0.113.7", KCDNSServiceError::NATPortMappingUnsupported, nullptr},
        {"now behind another NAT", true, true, "10.0.0.2", KCDNSServiceError::DoubleNAT, "10.0.0.2"},
        {"address unparsable", true, true, "garbage", KCDNSServiceError::Unknown, nullptr},
    };
    for (const VerificationCase &c : cases) {
        SCOPED_TRACE(c.name);
        client = KCFakeUPnPIGDClient();
        if (c.tcp)
            addMapping(client, kRequestedPort, "TCP");
        if (c.udp)
            addMapping(client, kRequestedPort, "UDP");
        client.script.externalIPAddress = c.externalIPAddress;
        const auto before = client.mappings;

        const KCDaemonUPnPJobResult result = KCDaemonUPnPJobs::verificationJob(client, kGateway, kRequestedPort);

        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.externalAddress, c.reportedAddress ? address(c.reportedAddress) : 0u);
        EXPECT_EQ(result.externalPort, c.code == KCDNSServiceError::NoError ? kRequestedPort : 0);
        EXPECT_TRUE(client.calls.contains(QStringLiteral("GetSpecificPortMappingEntry TCP 23456")));
        EXPECT_TRUE(client.calls.contains(QStringLiteral("GetSpecificPortMappingEntry UDP 23456")));
        EXPECT_EQ(client.mappings, before) << "verification changed the router's table";
        EXPECT_EQ(client.liveSessions, 0);
    }

    client = KCFakeUPnPIGDClient();
    client.script.deviceAnswers = false;
    EXPECT_EQ(KCDaemonUPnPJobs::verificationJob(client, kGateway, kRequestedPort).code, KCDNSServiceError::NoRouter);
}

TEST_F(UPnPJobs, RemovalJobDeletesBothProtocolsAndToleratesFailure)
{
    addMapping(client, kRequestedPort, "TCP");
    addMapping(client, kRequestedPort, "UDP");
    addMapping(client, 30000, "TCP");
    KCDaemonUPnPJobs::removalJob(client, kGateway, kRequestedPort);
    EXPECT_EQ(client.mappings.keys(), QList<KCFakeUPnPIGDClient::MappingKey>({{30000, "TCP"}}));

    // Already gone: the deletes fail quietly.
    KCDaemonUPnPJobs::removalJob(client, kGateway, kRequestedPort);
    EXPECT_EQ(client.mappings.size(), 1);

    client.script.validIGDResult = KCUPnPValidIGD::UnknownDevice;
    client.calls.clear();
    KCDaemonUPnPJobs::removalJob(client, kGateway, 30000);
    EXPECT_EQ(client.calls, QStringList({QStringLiteral("discover 192.168.1.1"), QStringLiteral("validIGD")}));
}

TEST(UPnPJobsRandomPort, StaysInTheRegisteredRange)
{
    uint16_t lowest = 65535;
    uint16_t highest = 0;
    for (int i = 0; i < 20000; ++i) {
        const uint16_t port = KCDaemonUPnPJobs::randomExternalPort();
        lowest = std::min(lowest, port);
        highest = std::max(highest, port);
    }
    EXPECT_GE(lowest, 10000);
    EXPECT_LE(highest, 49151);
    // 20000 draws over 39152 ports reach near both ends.
    EXPECT_LT(lowest, 10100);
    EXPECT_GT(highest, 49050);
}

} // namespace
