#include "KCDNSServiceError.h"
#include "KCDaemonRouterPortMapperFactory.h"
#include "KCLogCapture.h"
#include "KCMapperLabRig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>

// The port mapper against the lab's router. Each suite runs in the lab profile CMake gives it.

namespace {

using namespace std::chrono_literals;
const QString kLastMappedPort = QStringLiteral("lastMappedPort");

bool inPreferredRange(uint16_t port)
{
    return port >= 10000 && port <= 49151;
}

uint32_t labExternalAddress(const KCRouterLab &lab)
{
    return *KCIPv4Address::parse(lab.externalAddress().toString().toLatin1());
}

// A mapping of 5900 the router reports as made, with the public address it is configured with.
void expectMapped(KCMapperLabRig &rig, const KCMapperResult &result, const QString &backend)
{
    EXPECT_EQ(result.code, 0) << KCDNSServiceError::name(result.code).toStdString();
    EXPECT_EQ(result.externalAddress, labExternalAddress(rig.lab));
    EXPECT_TRUE(inPreferredRange(result.externalPort)) << result.externalPort;
    EXPECT_EQ(rig.mapper().portMappingBackendName(), backend);
    EXPECT_EQ(rig.store.integerForKey(kLastMappedPort), result.externalPort);
    EXPECT_FALSE(rig.delegate.offMainThread);
}

// Deletes one mapping behind the mapper's back, as another program on the LAN might.
bool deleteWithUpnpc(const KCRouterLab &lab, uint16_t externalPort, const QString &protocol)
{
    QProcess upnpc;
    upnpc.start(QStringLiteral("upnpc"), {QStringLiteral("-u"), lab.value("KC_LAB_IGD_URL"), QStringLiteral("-d"),
                                             QString::number(externalPort), protocol});
    return upnpc.waitForFinished(20000) && upnpc.exitStatus() == QProcess::NormalExit && upnpc.exitCode() == 0;
}

} // namespace

TEST(MapperLabFull, MapsThroughNatPmpPcpAndRemovesTheMappingOnClose)
{
    KC_MAPPER_LAB_RIG(rig);
    // Made as the daemon makes it.
    const auto factory = KCDaemonRouterPortMapperFactory::createSystemFactory(rig.configuration(), rig.store);
    std::unique_ptr<KCDaemonPortMapper> mapper = factory->createPortMapper(&rig.delegate);
    mapper->tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    const KCMapperResult mapped = rig.results()[0];
    EXPECT_EQ(mapped.code, 0) << KCDNSServiceError::name(mapped.code).toStdString();
    EXPECT_EQ(mapped.externalAddress, labExternalAddress(rig.lab));
    EXPECT_TRUE(inPreferredRange(mapped.externalPort)) << mapped.externalPort;
    EXPECT_GT(mapped.ttl, 0u);
    EXPECT_EQ(mapper->portMappingBackendName(), QStringLiteral("natpmp-pcp"));
    EXPECT_TRUE(rig.routerForwards(mapped.externalPort)) << rig.lab.mappings().value_or(QStringList()).join(u'\n').toStdString();

    mapper->close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings()) << rig.lab.mappings().value_or(QStringList()).join(u'\n').toStdString();
    EXPECT_EQ(rig.results().size(), 1u);
}

TEST(MapperLabFull, AddressOnlyLearnsThePublicAddressAndMapsNothing)
{
    KC_MAPPER_LAB_RIG(rig);
    rig.create().tryMappingPort(0);
    ASSERT_TRUE(rig.waitForResults(1));
    EXPECT_EQ(rig.results()[0], (KCMapperResult{0, 0, labExternalAddress(rig.lab), rig.results()[0].interfaceIndex,
                                    rig.results()[0].ttl}));
    EXPECT_NE(rig.results()[0].interfaceIndex, 0u);
    rig.mapper().close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings());
}

TEST(MapperLabFull, DiagnosticsDescribeTheRouter)
{
    KC_MAPPER_LAB_RIG(rig);
    rig.create();
    const QVariantMap diagnostics = rig.collectDiagnostics();
    EXPECT_EQ(diagnostics.value(QStringLiteral("descriptionHostType")).toString().toStdString(), std::string("private-ipv4"));
    EXPECT_EQ(diagnostics.value(QStringLiteral("descriptionURL")).toString(),
        QString(rig.lab.value("KC_LAB_IGD_URL")).replace(rig.lab.routerAddress().toString(), QStringLiteral("private-ipv4")));
    EXPECT_TRUE(diagnostics.value(QStringLiteral("serviceType")).toString().startsWith(
        QStringLiteral("urn:schemas-upnp-org:service:WANIPConnection:")));
    // The maker and model of the last device in the document that names them: here the WAN
    // connection device miniupnpd describes itself with, not the configured root device.
    EXPECT_EQ(diagnostics.value(QStringLiteral("manufacturer")).toString().toStdString(), std::string("MiniUPnP"));
    EXPECT_EQ(diagnostics.value(QStringLiteral("modelName")).toString().toStdString(), std::string("MiniUPnPd"));
    EXPECT_FALSE(diagnostics.value(QStringLiteral("modelNumber")).toString().isEmpty());
    EXPECT_EQ(rig.mapper().upnpIGDDiscoveryDiagnostics(), diagnostics) << "kept for the next request";
}

// upnp-only (NAT-PMP refused at once) and natpmp-dropped (NAT-PMP silently dropped).
TEST(MapperLabUPnP, FallsBackToUPnPAndRemovesTheMappingOnClose)
{
    KC_MAPPER_LAB_RIG(rig);
    KCLogCapture log;
    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    expectMapped(rig, rig.results()[0], QStringLiteral("miniupnpc"));
    EXPECT_TRUE(log.contains(QStringLiteral("Falling back to miniupnpc.")));
    const uint16_t port = rig.results()[0].externalPort;
    EXPECT_TRUE(rig.routerForwards(port));
    for (const QString &line : rig.routerMappings(port))
        EXPECT_TRUE(line.endsWith(QStringLiteral(" Kovra Connect"))) << line.toStdString();

    rig.mapper().close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings()) << rig.lab.mappings().value_or(QStringList()).join(u'\n').toStdString();
    EXPECT_EQ(rig.results().size(), 1u);
}

TEST(MapperLabUPnP, MapperDestroyedMidAttemptLeavesNothingBehind)
{
    KC_MAPPER_LAB_RIG(rig);
    // What the router logs from here on: the lab lives on from the tests before.
    const qsizetype logged = rig.lab.routerLog().size();
    rig.create().tryMappingPort(5900);
    // Gone while its mapping job is discovering the router (a job that has not started yet is
    // dropped unrun): the job maps all the same, and its result, finding nobody to take it, has
    // the mapping removed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.lab.routerLog().mid(logged).contains(QLatin1String("M-SEARCH")); }, 30000))
        << rig.lab.routerLog().mid(logged).toStdString();
    rig.destroy();
    EXPECT_TRUE(rig.waitForRouter([&](const QStringList &) {
        const QString routerLog = rig.lab.routerLog().mid(logged);
        return routerLog.contains(QLatin1String("AddPortMapping")) && routerLog.contains(QLatin1String("DeletePortMapping"));
    })) << rig.lab.routerLog().mid(logged).toStdString();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings()) << rig.lab.mappings().value_or(QStringList()).join(u'\n').toStdString();
    EXPECT_TRUE(rig.results().empty());
}

TEST(MapperLabUPnP, VerificationRestoresAMappingDeletedBehindItsBack)
{
    KC_MAPPER_LAB_RIG(rig);
    KCLogCapture log;
    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    ASSERT_EQ(rig.results()[0].code, 0);
    const uint16_t port = rig.results()[0].externalPort;

    ASSERT_TRUE(deleteWithUpnpc(rig.lab, port, QStringLiteral("UDP")));
    ASSERT_FALSE(rig.routerForwards(port));

    rig.mapperTimers.advance(600s);
    ASSERT_TRUE(rig.waitForResults(2));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "miniupnpc mapping verification failed with status -65564. Restarting port mapping.")));
    expectMapped(rig, rig.results()[1], QStringLiteral("miniupnpc"));
    EXPECT_EQ(rig.results()[1].externalPort, port) << "the same public port is asked for again";
    EXPECT_TRUE(rig.waitUntilRouterForwards(port));

    rig.mapper().close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings());
}

TEST(MapperLabNone, ReportsThatNoRouterAnswered)
{
    KC_MAPPER_LAB_RIG(rig);
    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    EXPECT_EQ(rig.results()[0].code, KCDNSServiceError::NoRouter)
        << KCDNSServiceError::name(rig.results()[0].code).toStdString();
    EXPECT_EQ(rig.results()[0].externalPort, 0);
    EXPECT_EQ(rig.mapper().portMappingBackendName(), QStringLiteral("miniupnpc"));
    EXPECT_FALSE(rig.store.objectForKey(kLastMappedPort).isValid());
    EXPECT_TRUE(rig.collectDiagnostics().isEmpty());
}

TEST(MapperLabRestart, MappingComesBackAfterTheRouterRestarts)
{
    KC_MAPPER_LAB_RIG(rig);
    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    expectMapped(rig, rig.results()[0], QStringLiteral("natpmp-pcp"));
    const uint16_t port = rig.results()[0].externalPort;
    ASSERT_TRUE(rig.routerForwards(port));

    ASSERT_TRUE(rig.lab.restartRouter());
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    // The renewal is an hour away; the router announces its restart about a second after it
    // starts, and a client may wait up to five seconds more before it asks again. So the bound
    // tells noticing the restart from waiting for the renewal.
    EXPECT_TRUE(rig.waitUntilRouterForwards(port, 8s)) << rig.lab.mappings().value_or(QStringList()).join(u'\n').toStdString();
    std::printf("mapping back %lld ms after the router answered again\n", sinceRestart.elapsed());
    ASSERT_TRUE(rig.waitForResults(2));
    EXPECT_EQ(rig.results()[1].code, 0);
    EXPECT_EQ(rig.results()[1].externalPort, port);

    rig.mapper().close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings());
}

// upnp-only with a second LAN device that answers discovery with a description of its own.
TEST(MapperLabSecondDevice, OnlyTheGatewayIsAskedAndMapped)
{
    KC_MAPPER_LAB_RIG(rig);
    KCLogCapture log;
    rig.create().tryMappingPort(5900);
    ASSERT_TRUE(rig.waitForResults(1));
    expectMapped(rig, rig.results()[0], QStringLiteral("miniupnpc"));
    EXPECT_TRUE(rig.routerForwards(rig.results()[0].externalPort));
    EXPECT_TRUE(log.contains(QStringLiteral("Ignoring UPnP device at %1").arg(rig.lab.value("KC_LAB_DEVICE_IGD_URL"))));
    QByteArray deviceLog;
    ASSERT_TRUE(rig.lab.run({QStringLiteral("log"), rig.lab.name(), QStringLiteral("device")}, &deviceLog));
    EXPECT_FALSE(deviceLog.contains("AddPortMapping")) << deviceLog.toStdString();
    EXPECT_FALSE(deviceLog.contains("GET ")) << "nothing is fetched from it";
    rig.mapper().close();
    EXPECT_TRUE(rig.waitUntilRouterHasNoMappings());
}
