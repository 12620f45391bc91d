#include "KCDaemonRouterPortMapperFactory.h"

#include "KCDaemonRouterGateway.h"
#include "KCMiniUPnPIGDClient.h"
#include "KCNatPmpPcpClient.h"

KCDaemonRouterPortMapperFactory::KCDaemonRouterPortMapperFactory(std::shared_ptr<KCNATPortMappingService> natService,
    std::shared_ptr<KCUPnPIGDClient> upnpClient, KCDefaultsStore &store, KCTimerSource &timers,
    KCDaemonRouterPortMapper::GatewayProvider gateway)
    : _natService(std::move(natService))
    , _upnpClient(std::move(upnpClient))
    , _store(store)
    , _timers(timers)
    , _gateway(std::move(gateway))
{
}

std::unique_ptr<KCDaemonRouterPortMapperFactory> KCDaemonRouterPortMapperFactory::createSystemFactory(
    const KCDynamicStore &configuration, KCDefaultsStore &store, KCTimerSource &timers)
{
    auto natService = std::make_shared<KCNatPmpPcpClient>(
        [&configuration] { return KCDaemonRouterGateway::natGateway(configuration); }, timers);
    return std::make_unique<KCDaemonRouterPortMapperFactory>(std::move(natService),
        std::make_shared<KCMiniUPnPIGDClient>(), store, timers,
        [&configuration] { return KCDaemonRouterGateway::upnpGatewayAddress(configuration); });
}

std::unique_ptr<KCDaemonPortMapper> KCDaemonRouterPortMapperFactory::createPortMapper(
    KCDaemonPortMapperDelegate *delegate)
{
    return std::make_unique<KCDaemonRouterPortMapper>(delegate, *_natService, _upnpClient, _store, _timers, _gateway);
}
