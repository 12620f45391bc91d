#pragma once

#include "KCUPnPIGDClient.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>

// Keys of the discovery diagnostics dictionary; every value is a string and each key is present
// only when its value was found. The description parser adds "manufacturer", "modelName" and
// "modelNumber".
inline const QString KCUPnPDiagnosticsDescriptionURLKey = QStringLiteral("descriptionURL");
inline const QString KCUPnPDiagnosticsDescriptionHostTypeKey = QStringLiteral("descriptionHostType");
inline const QString KCUPnPDiagnosticsServiceTypeKey = QStringLiteral("serviceType");

// The outcome of finding the gateway device, shared by every UPnP job.
struct KCDaemonUPnPDiscoveredIGD {
    // 0 on success, else -65557 (discovery reported an error and nobody answered), -65566 (nobody
    // answered, or no usable device) or -65564 (an IGD that is not connected, or not an IGD).
    int32_t code = 0;
    // Set exactly when code is 0; destroying it releases the device's URLs.
    std::unique_ptr<KCUPnPIGDSession> session;
    // Built when asked for and a device was picked, even one that is then not used; none when the
    // device has no description URL.
    std::optional<QVariantMap> diagnostics;
};

namespace KCDaemonUPnPDiscovery {

// Blocking; run it on the mapper's worker thread. The gateway address is the IPv4 default
// gateway in network byte order, captured on the main thread.
KCDaemonUPnPDiscoveredIGD discoverIGD(KCUPnPIGDClient &client, uint32_t gatewayAddress, bool withDiagnostics);

// The description URL's host classified: "private-ipv4" or "public-ipv4" for a dotted IPv4
// address, "ipv6", "hostname", or "unknown" when the URL has no host.
QString descriptionHostType(const QByteArray &descriptionURL);
// The URL with its host replaced by its type word for the address types, so that no address
// leaves the machine; a host name stays, and a URL that cannot be rebuilt stays as it was.
QString diagnosticsDescriptionURL(const QByteArray &descriptionURL, const QString &hostType);

} // namespace KCDaemonUPnPDiscovery
