#include "KCNatPmpPcpClient.h"

#include "KCDNSServiceError.h"
#include "KCNATRouters.h"
#include "KCNatPmpPcpRequest.h"

#include <QNetworkInterface>

KCNatPmpPcpClient::KCNatPmpPcpClient(GatewayProvider gateway, KCTimerSource &timers, KCNatPmpPcpEndpoints endpoints)
    : m_gateway(std::move(gateway))
    , m_timers(timers)
    , m_endpoints(std::move(endpoints))
    , m_routers(std::make_shared<KCNATRouters>(timers, m_endpoints.serverPort, m_endpoints.announcementGroup,
                                               m_endpoints.announcementPort))
{
}

KCNatPmpPcpClient::~KCNatPmpPcpClient() = default;

KCNATPortMappingService::Creation KCNatPmpPcpClient::createPortMapping(const KCNATPortMappingParameters &parameters,
                                                                       ReplyHandler onReply)
{
    if (parameters.flags != 0)
        return {KCDNSServiceError::BadFlags, nullptr};
    const bool knownProtocols = (parameters.protocols & ~(KCNATProtocol::UDP | KCNATProtocol::TCP)) == 0;
    const bool addressOnly = parameters.protocols == 0 && parameters.internalPort == 0 && parameters.externalPort == 0;
    const bool mapping = parameters.protocols != 0 && parameters.internalPort != 0;
    if (!onReply || !knownProtocols || (!addressOnly && !mapping))
        return {KCDNSServiceError::BadParam, nullptr};

    auto request = std::make_unique<KCNatPmpPcpRequest>(m_routers, m_timers, parameters, std::move(onReply));
    std::optional<KCNATGateway> gateway = m_gateway ? m_gateway() : std::nullopt;
    bool isIPv4 = false;
    const uint32_t router = gateway ? gateway->address.toIPv4Address(&isIPv4) : 0;
    uint32_t interfaceIndex = gateway ? gateway->interfaceIndex : 0;
    if (gateway && interfaceIndex == 0 && !gateway->interfaceName.isEmpty())
        interfaceIndex = uint32_t(std::max(0, QNetworkInterface::interfaceIndexFromName(gateway->interfaceName)));
    const bool wrongInterface = parameters.interfaceIndex != 0 && parameters.interfaceIndex != interfaceIndex;
    if (!isIPv4 || router == 0 || wrongInterface) {
        request->startWithoutRouter();
        return {KCDNSServiceError::NoError, std::move(request)};
    }
    const int32_t error = request->start(router, interfaceIndex, m_endpoints.serverPort);
    if (error != 0)
        return {error, nullptr};
    return {KCDNSServiceError::NoError, std::move(request)};
}

uint16_t KCNatPmpPcpClient::announcementListenPort() const
{
    return m_routers->announcementListenPort();
}
