#pragma once

#include "KCNATPortMappingService.h"
#include "KCTimerSource.h"

#include <QHostAddress>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class KCNATRouters;

// The router to ask: the default route's gateway.
struct KCNATGateway {
    QHostAddress address; // IPv4
    QString interfaceName;
    uint32_t interfaceIndex = 0; // looked up from the name when 0
};

// Where the router listens and where it announces itself.
struct KCNatPmpPcpEndpoints {
    uint16_t serverPort = 5351;
    QHostAddress announcementGroup = QHostAddress(QStringLiteral("224.0.0.1"));
    uint16_t announcementPort = 5350; // 0: any free port
};

// The port-mapping service on Linux: a NAT-PMP (RFC 6886) and PCP (RFC 6887) client that asks
// the default gateway. PCP goes first; a router that answers that it does not speak it (or
// answers in NAT-PMP) gets NAT-PMP, and the client remembers which protocol each router speaks.
// Each request retries at 250, 500 and 1000 ms and gives up 1.75 s after its first try, so a
// router that drops these packets does not hold the caller up. Replies are checked before they
// are believed (source, size, version, opcode, result, internal port, protocol, nonce); what
// fails is dropped, and logged once per request. Mappings are renewed between half and
// five-eighths of their lease, asked for again at once when the router restarts (its epoch went
// back, or it announced itself on the multicast group), and deleted when their request is
// released. KCNATResultCodes.h lists the result codes callers get.
class KCNatPmpPcpClient final : public KCNATPortMappingService {
public:
    using GatewayProvider = std::function<std::optional<KCNATGateway>()>;

    // The gateway provider is asked once per request, when it is opened; a request keeps the
    // router it started with. Every delay runs on the timer source.
    explicit KCNatPmpPcpClient(GatewayProvider gateway, KCTimerSource &timers = KCTimerSource::system(),
                               KCNatPmpPcpEndpoints endpoints = {});
    ~KCNatPmpPcpClient() override;

    // Fails at once with -65543 for flags, -65540 for protocols other than UDP and TCP or for a
    // protocol set that does not go with the internal port, -65563 when no socket can be opened.
    Creation createPortMapping(const KCNATPortMappingParameters &parameters, ReplyHandler onReply) override;

    // The port router announcements are received on while a request is open, else 0.
    uint16_t announcementListenPort() const;

private:
    GatewayProvider m_gateway;
    KCTimerSource &m_timers;
    const KCNatPmpPcpEndpoints m_endpoints;
    // Shared with the requests, so that one released after the client still leaves cleanly.
    std::shared_ptr<KCNATRouters> m_routers;
};
