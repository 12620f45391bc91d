#pragma once

#include "KCDynamicStore.h"
#include "KCNatPmpPcpClient.h"

#include <cstdint>
#include <optional>

// The router to ask, as the system configuration store knows it: the default IPv4 route's
// gateway. Read when the work is queued, so that a mapper always asks the router of the moment.
namespace KCDaemonRouterGateway {

// The gateway's address in network byte order; 0 without a default route, or for one without a
// gateway (a point-to-point link).
uint32_t upnpGatewayAddress(const KCDynamicStore &store);
// The gateway with its interface, for the NAT-PMP/PCP client; none where upnpGatewayAddress()
// gives 0.
std::optional<KCNATGateway> natGateway(const KCDynamicStore &store);

} // namespace KCDaemonRouterGateway
