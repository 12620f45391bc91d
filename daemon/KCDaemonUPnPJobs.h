#pragma once

#include "KCUPnPIGDClient.h"

#include <QByteArray>
#include <QList>
#include <QVariantMap>
#include <cstdint>
#include <optional>

// What a UPnP job hands back to the main thread.
struct KCDaemonUPnPJobResult {
    // 0, or one of -65537 (unknown), -65549 (four conflicts), -65557, -65558 (double NAT),
    // -65564, -65565 and -65566.
    int32_t code = 0;
    uint16_t externalPort = 0;
    uint32_t externalAddress = 0; // IPv4, network byte order
    std::optional<QVariantMap> diagnostics;
    // The ports the router refused as taken (718), in order. A preferred port stored under
    // "lastMappedPort" that is one of them must be forgotten. Jobs never touch the settings store
    // (they run on the worker thread), so the caller does it on the main thread when the result
    // arrives, also when it drops the result as stale. A port stored since then by a newer
    // attempt is not in the list and stays.
    QList<uint16_t> conflictedPorts;
};

// The UPnP work of a port mapper, one blocking function per job. They run on the mapper's own
// worker thread, one at a time; they read no mapper state and write none: everything they need
// comes in by value (the gateway address is the IPv4 default gateway in network byte order,
// captured on the main thread) and everything they learn goes out in the result.
namespace KCDaemonUPnPJobs {

inline const QByteArray KCUPnPMappingDescription = QByteArrayLiteral("Kovra Connect");

// Maps externalPort (TCP and UDP) to internalPort on this machine's LAN address: up to four
// tries, a random port from 10000 to 49151 after each conflict. On success the result carries
// the port that was mapped and the public address, and the mapping stays on the router; on any
// failure nothing this job added stays. The diagnostics are those of its discovery.
KCDaemonUPnPJobResult mappingJob(KCUPnPIGDClient &client, uint32_t gatewayAddress, uint16_t internalPort,
    uint16_t externalPort);

// Checks that the TCP and UDP mappings of externalPort still exist and reads the public address:
// 0 with the address (and the port), -65558 with a private address, -65564 when a mapping is
// gone, or discovery's code.
KCDaemonUPnPJobResult verificationJob(KCUPnPIGDClient &client, uint32_t gatewayAddress, uint16_t externalPort);

// Deletes the TCP and UDP mappings of externalPort, best effort.
void removalJob(KCUPnPIGDClient &client, uint32_t gatewayAddress, uint16_t externalPort);

// Discovers the gateway and describes it; none when nothing was found or it has no description
// URL.
std::optional<QVariantMap> diagnosticsJob(KCUPnPIGDClient &client, uint32_t gatewayAddress);

// 10000 plus a uniform draw below 39152.
uint16_t randomExternalPort();

} // namespace KCDaemonUPnPJobs
