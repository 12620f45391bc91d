#pragma once

#include "KCUPnPIGDClient.h"

struct UPNPDev;

// The UPnP IGD client over miniupnpc. Debian ships API 17, whose UPNP_GetValidIGD has no WAN
// address and tells fewer cases apart than API 18; the callers always see API 18's meanings.
// The client holds no state, so one object may serve any number of jobs on one thread.
class KCMiniUPnPIGDClient final : public KCUPnPIGDClient {
public:
    // Discovery waits 2000 ms for answers, with no multicast interface set, no MiniSSDPd, any
    // local port, IPv4 only and a TTL of 2.
    KCUPnPDiscovery discover(uint32_t gatewayAddress) override;

    // API 17 returns 1 for a connected IGD (API 18 splits off 2, a connected IGD with a private
    // WAN address), 2 for a disconnected IGD (API 18: 3) and 3 for a device that is not an IGD
    // (API 18: 4). Its 2 also covers a connected IGD whose external address is private, which
    // only asking the device tells apart: connectedWithPrivateAddress says what it answered.
    // Anything else, its -1 for an internal error included, means no IGD.
    static int validIGDResultFromAPI17(int api17Result, bool connectedWithPrivateAddress);
    static int validIGDResultFromAPI18(int api18Result);

    // Unlinks every device whose description URL fails the gateway check, logs it and frees it
    // on its own, and returns the devices that remain, in their order. Each node ends up in
    // exactly one list, so nothing is freed twice.
    static UPNPDev *keepGatewayDevices(UPNPDev *devices, uint32_t gatewayAddress);
};
