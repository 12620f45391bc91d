#include "KCDaemonRouterGateway.h"

#include "KCIPv4Address.h"

namespace KCDaemonRouterGateway {

uint32_t upnpGatewayAddress(const KCDynamicStore &store)
{
    const std::optional<KCGlobalIPv4State> state = store.globalIPv4State();
    if (!state)
        return 0;
    return KCIPv4Address::parse(state->router.toLatin1()).value_or(0);
}

std::optional<KCNATGateway> natGateway(const KCDynamicStore &store)
{
    const std::optional<KCGlobalIPv4State> state = store.globalIPv4State();
    if (!state || upnpGatewayAddress(store) == 0)
        return std::nullopt;
    KCNATGateway gateway;
    gateway.address = QHostAddress(state->router);
    gateway.interfaceName = state->primaryInterface;
    gateway.interfaceIndex = uint32_t(std::max(0, state->interfaceIndex));
    return gateway;
}

} // namespace KCDaemonRouterGateway
