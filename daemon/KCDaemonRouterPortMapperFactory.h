#pragma once

#include "KCDaemonPortMapper.h"
#include "KCDaemonRouterPortMapper.h"
#include "KCDefaultsStore.h"
#include "KCDynamicStore.h"
#include "KCNATPortMappingService.h"
#include "KCTimerSource.h"
#include "KCUPnPIGDClient.h"

#include <memory>

// Makes the daemon's port mappers on the real router. Every mapper it makes shares its one
// NAT-PMP/PCP service and its one UPnP client (each mapper still has a worker thread of its own),
// the settings store, the timer source and the gateway provider. The factory must outlive the
// mappers it made; the store and the timer source must outlive the factory.
class KCDaemonRouterPortMapperFactory final : public KCDaemonPortMapperFactory {
public:
    KCDaemonRouterPortMapperFactory(std::shared_ptr<KCNATPortMappingService> natService,
        std::shared_ptr<KCUPnPIGDClient> upnpClient, KCDefaultsStore &store, KCTimerSource &timers,
        KCDaemonRouterPortMapper::GatewayProvider gateway);

    // The factory of this machine: the NAT-PMP/PCP client and the miniupnpc client, both asking
    // the default route's gateway as the configuration store knows it at the time. The
    // configuration store must outlive the factory.
    static std::unique_ptr<KCDaemonRouterPortMapperFactory> createSystemFactory(const KCDynamicStore &configuration,
        KCDefaultsStore &store, KCTimerSource &timers = KCTimerSource::system());

    std::unique_ptr<KCDaemonPortMapper> createPortMapper(KCDaemonPortMapperDelegate *delegate) override;

private:
    std::shared_ptr<KCNATPortMappingService> _natService;
    std::shared_ptr<KCUPnPIGDClient> _upnpClient;
    KCDefaultsStore &_store;
    KCTimerSource &_timers;
    KCDaemonRouterPortMapper::GatewayProvider _gateway;
};
