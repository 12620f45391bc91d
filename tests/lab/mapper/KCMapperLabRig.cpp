#include "KCMapperLabRig.h"

#include "KCDaemonRouterGateway.h"
#include "KCFakeHostnamed.h"
#include "KCRtnetlinkRouteWatch.h"
#include "KCSystemInformationSources.h"

#include <QTest>
#include <gtest/gtest.h>

KCMapperLabRig::KCMapperLabRig()
    : lab(*KCRouterLab::current())
    , _configuration(std::make_unique<KCLinuxDynamicStore>(std::make_unique<KCFakeHostnamed>(),
          *KCSystemInformationSources::system().routing, std::make_unique<KCRtnetlinkRouteWatch>(), QStringLiteral("/etc")))
    , _nat(std::make_shared<KCNatPmpPcpClient>(
          [this] { return KCDaemonRouterGateway::natGateway(*_configuration); }))
    , _upnp(std::make_shared<KCMiniUPnPIGDClient>())
{
}

KCMapperLabRig::~KCMapperLabRig() = default;

KCDaemonRouterPortMapper &KCMapperLabRig::create()
{
    _mapper = std::make_unique<KCDaemonRouterPortMapper>(&delegate, *_nat, _upnp, store, mapperTimers,
        [this] { return KCDaemonRouterGateway::upnpGatewayAddress(*_configuration); });
    return *_mapper;
}

bool KCMapperLabRig::waitForResults(std::size_t count, std::chrono::milliseconds deadline)
{
    return QTest::qWaitFor([&] { return delegate.results.size() >= count; }, int(deadline.count()));
}

QStringList KCMapperLabRig::routerMappings(uint16_t externalPort) const
{
    QStringList found;
    const QString tcp = QStringLiteral("TCP %1 ").arg(externalPort);
    const QString udp = QStringLiteral("UDP %1 ").arg(externalPort);
    for (const QString &line : lab.mappings().value_or(QStringList()))
        if (line.startsWith(tcp) || line.startsWith(udp))
            found.append(line);
    return found;
}

bool KCMapperLabRig::routerForwards(uint16_t externalPort) const
{
    const QStringList lines = routerMappings(externalPort);
    const QString target = QStringLiteral(" %1 %2:5900").arg(externalPort).arg(lab.clientAddress().toString());
    bool tcp = false;
    bool udp = false;
    for (const QString &line : lines) {
        tcp |= line.startsWith(QStringLiteral("TCP") + target);
        udp |= line.startsWith(QStringLiteral("UDP") + target);
    }
    return tcp && udp;
}

bool KCMapperLabRig::waitForRouter(const std::function<bool(const QStringList &)> &predicate,
    std::chrono::milliseconds deadline) const
{
    return QTest::qWaitFor([&] { return predicate(lab.mappings().value_or(QStringList{QStringLiteral("?")})); },
        int(deadline.count()));
}

bool KCMapperLabRig::waitUntilRouterForwards(uint16_t externalPort, std::chrono::milliseconds deadline) const
{
    return QTest::qWaitFor([&] { return routerForwards(externalPort); }, int(deadline.count()));
}

bool KCMapperLabRig::waitUntilRouterHasNoMappings() const
{
    return waitForRouter([](const QStringList &table) { return table.isEmpty(); });
}

QVariantMap KCMapperLabRig::collectDiagnostics()
{
    auto received = std::make_shared<std::optional<QVariantMap>>();
    _mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion([received](const QVariantMap &d) { *received = d; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return received->has_value(); }, 30000));
    return received->value_or(QVariantMap());
}
