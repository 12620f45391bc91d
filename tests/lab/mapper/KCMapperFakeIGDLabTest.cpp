#include "KCDNSServiceError.h"
#include "KCLogCapture.h"
#include "KCMapperLabRig.h"

#include <gtest/gtest.h>

// The port mapper against our fake gateway, for what miniupnpd never does. The lab's fake
// refuses NAT-PMP/PCP (nothing listens on 5351), so every attempt takes the UPnP path. CMake runs
// the test once per case, each in a lab whose fake is started with the case's options, and names
// the case in KC_MAPPER_CASE; tests/lab/CMakeLists.txt gives each case's options.

namespace {

struct FakeIGDCase {
    const char *name;
    int32_t code;
    const char *reportedAddress; // nullptr: 0
    bool mapped;
    int tcpConflicts;
    const char *refusalLine; // nullptr: none
    bool addTried;           // the job went as far as AddPortMapping
    bool routerDescribed;    // the make and model came from the description
};

const std::vector<FakeIGDCase> kCases = {
    {"accepts", 0, "203.0.114.77", true, 0, nullptr, true, true},
    {"three-conflicts", 0, "203.0.114.77", true, 3,
        "miniupnpc TCP AddPortMapping failed with error 718", true, true},
    {"four-conflicts", KCDNSServiceError::Invalid, nullptr, false, 4,
        "miniupnpc TCP AddPortMapping failed with error 718", true, true},
    {"udp-not-authorised", KCDNSServiceError::NATPortMappingDisabled, nullptr, false, 0,
        "miniupnpc UDP AddPortMapping failed with error 606", true, true},
    {"only-permanent-leases", KCDNSServiceError::NATPortMappingUnsupported, nullptr, false, 0,
        "miniupnpc TCP AddPortMapping failed with error 725", true, true},
    {"shared-address", KCDNSServiceError::DoubleNAT, "100.64.1.2", false, 0, nullptr,
        true, true},
    {"private-address", KCDNSServiceError::DoubleNAT, "10.0.0.2", false, 0, nullptr, true,
        true},
    {"disconnected", KCDNSServiceError::NATPortMappingUnsupported, nullptr, false,
        0, nullptr, false, true},
    {"external-entity", 0, "203.0.114.77", true, 0, nullptr, true, false},
    {"entity-bomb", 0, "203.0.114.77", true, 0, nullptr, true, false},
    {"deep", 0, "203.0.114.77", true, 0, nullptr, true, false},
    {"malformed", 0, "203.0.114.77", true, 0, nullptr, true, false},
    {"huge", 0, "203.0.114.77", true, 0, nullptr, true, false},
};

const FakeIGDCase *currentCase()
{
    const QByteArray name = qgetenv("KC_MAPPER_CASE");
    for (const FakeIGDCase &c : kCases)
        if (name == c.name)
            return &c;
    return nullptr;
}

} // namespace

TEST(MapperLabFakeIGD, Outcome)
{
    KC_MAPPER_LAB_RIG(rig);
    const FakeIGDCase *c = currentCase();
    ASSERT_NE(c, nullptr) << "KC_MAPPER_CASE names none of the cases";
    SCOPED_TRACE(c->name);
    KCLogCapture log;
    constexpr uint16_t stored = 23456;
    rig.store.setInteger(stored, QStringLiteral("lastMappedPort"));

    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    const KCMapperResult result = rig.results()[0];
    EXPECT_EQ(result.code, c->code) << KCDNSServiceError::name(result.code).toStdString();
    EXPECT_EQ(result.externalAddress, c->reportedAddress ? *KCIPv4Address::parse(c->reportedAddress) : 0u);
    EXPECT_EQ(rig.mapper().portMappingBackendName(), QStringLiteral("miniupnpc"));
    if (c->refusalLine) {
        EXPECT_EQ(log.count(QString::fromLatin1(c->refusalLine)), c->tcpConflicts ? c->tcpConflicts : 1);
    }

    const QString routerLog = rig.lab.routerLog();
    EXPECT_EQ(routerLog.contains(QLatin1String("AddPortMapping")), c->addTried) << routerLog.toStdString();
    const std::optional<QStringList> table = rig.lab.mappings();
    ASSERT_TRUE(table);
    if (c->mapped) {
        // Each conflict made the job draw a new port; the one that was mapped is what is stored.
        EXPECT_EQ(result.externalPort != stored, c->tcpConflicts > 0);
        EXPECT_EQ(rig.store.integerForKey(QStringLiteral("lastMappedPort")), result.externalPort);
        EXPECT_TRUE(rig.routerForwards(result.externalPort)) << table->join(u'\n').toStdString();
        EXPECT_EQ(table->size(), 2) << table->join(u'\n').toStdString();
    } else {
        EXPECT_EQ(result.externalPort, 0);
        EXPECT_TRUE(table->isEmpty()) << "nothing is left on the router: " << table->join(u'\n').toStdString();
        EXPECT_FALSE(rig.store.objectForKey(QStringLiteral("lastMappedPort")).isValid());
    }

    // A document the parser refuses gives no make or model, and nothing else of its content.
    const QVariantMap diagnostics = rig.mapper().upnpIGDDiscoveryDiagnostics();
    EXPECT_EQ(diagnostics.value(QStringLiteral("descriptionHostType")).toString().toStdString(), std::string("private-ipv4"));
    QStringList keys = {QStringLiteral("descriptionHostType"), QStringLiteral("descriptionURL"), QStringLiteral("serviceType")};
    if (c->routerDescribed)
        keys << QStringLiteral("manufacturer") << QStringLiteral("modelName") << QStringLiteral("modelNumber");
    keys.sort();
    EXPECT_EQ(diagnostics.keys(), keys);
    if (c->routerDescribed) {
        EXPECT_EQ(diagnostics.value(QStringLiteral("manufacturer")).toString().toStdString(), std::string("Fendrel Lab"));
    }

    rig.mapper().close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings());
}
