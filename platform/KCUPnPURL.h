#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// The only URLs the UPnP path follows: "http://A.B.C.D[:port]/path", printable ASCII, with a
// dotted-quad host. The host read here is the host miniupnpc connects to (it too takes the host
// up to the first ':' or '/'), so the check below cannot be fooled by user info, brackets, host
// names or other forms two parsers might read differently.
struct KCUPnPURL {
    uint32_t host = 0; // network byte order
    uint16_t port = 80;
    QByteArray path; // begins with '/'

    static std::optional<KCUPnPURL> parse(QByteArrayView url);
};

enum class KCUPnPURLVerdict {
    Accepted,
    NotAnIPv4HTTPURL,
    ForbiddenAddress, // loopback, unspecified, link-local or multicast
    NotTheGateway,
};

// Any device on the LAN can answer a discovery and name any URL; a URL is followed only when its
// host is the default gateway (network byte order, 0 when there is none).
KCUPnPURLVerdict KCUPnPCheckURLAgainstGateway(QByteArrayView url, uint32_t gatewayAddress);

// Text a device sent, fit for one log line: non-printable bytes become '?', long text is cut.
QString KCUPnPLogSafeText(QByteArrayView text);
