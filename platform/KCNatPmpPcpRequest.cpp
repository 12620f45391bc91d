#include "KCNatPmpPcpRequest.h"

#include "KCDNSServiceError.h"
#include "KCLog.h"
#include "KCNATLease.h"
#include "KCNATResultCodes.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace KCNatPmpPcpWire;
using std::chrono::milliseconds;

namespace {

constexpr int MaxTries = 3;
constexpr milliseconds FirstRetransmit{250};
// Routers grant no PCP lease shorter than two minutes; the address probe asks for no more.
constexpr uint32_t AddressProbeLease = 120;

Nonce randomNonce()
{
    std::array<quint32, 3> words;
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    Nonce nonce;
    std::memcpy(nonce.data(), words.data(), nonce.size());
    return nonce;
}

uint64_t uniformJitter(uint64_t bound)
{
    return QRandomGenerator::global()->bounded(quint64(0), quint64(bound) + 1);
}

QString addressText(uint32_t address)
{
    return QHostAddress(address).toString();
}

bool sameOutcome(const KCNATPortMappingReply &a, const KCNATPortMappingReply &b)
{
    // The lease is left out: routers that count it down would otherwise reply at every renewal.
    return a.errorCode == b.errorCode && a.externalAddress == b.externalAddress && a.externalPort == b.externalPort
           && a.protocol == b.protocol;
}

} // namespace

KCNatPmpPcpRequest::KCNatPmpPcpRequest(std::shared_ptr<KCNATRouters> routers, KCTimerSource &timers,
                                       const KCNATPortMappingParameters &parameters,
                                       KCNATPortMappingService::ReplyHandler onReply)
    : m_routers(std::move(routers))
    , m_timers(timers)
    , m_parameters(parameters)
    , m_requestedLease(parameters.ttl == 0 ? KCNATDefaultLease : parameters.ttl)
    , m_onReply(std::move(onReply))
    , m_retransmitTimer(timers.createTimer(KCTimerKind::SingleShot, [this] { onRetransmitTimer(); }))
    , m_renewTimer(timers, [this] { onRenewTimer(); })
{
    if (parameters.protocols & KCNATProtocol::TCP)
        m_items.push_back(Item{Kind::TCP});
    if (parameters.protocols & KCNATProtocol::UDP)
        m_items.push_back(Item{Kind::UDP});
    // NAT-PMP tells the public address only when asked for it on its own; PCP tells it with
    // every mapping and needs this item only for an address-only request.
    m_items.push_back(Item{Kind::Address});
    for (Item &item : m_items)
        item.nonce = randomNonce();
}

KCNatPmpPcpRequest::~KCNatPmpPcpRequest()
{
    if (m_joined)
        m_routers->leave(this);
    if (m_socket)
        deleteMappings();
}

int32_t KCNatPmpPcpRequest::start(uint32_t router, uint32_t interfaceIndex, uint16_t serverPort)
{
    m_router = router;
    m_interfaceIndex = interfaceIndex;
    m_serverPort = serverPort;
    m_socket = std::make_unique<KCConnectedUdpSocket>(
        [this](const KCConnectedUdpSocket::Datagram &datagram) { onDatagram(datagram); }, [this] { onRefused(); });
    const int error = m_socket->open(router, serverPort);
    if (error == ENETUNREACH || error == EHOSTUNREACH) {
        m_socket.reset();
        m_interfaceIndex = 0;
        startWithoutRouter();
        return 0;
    }
    if (error != 0) {
        qCWarning(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: cannot open a socket to router %1: %2")
                                         .arg(addressText(router), QString::fromLocal8Bit(std::strerror(error)));
        m_socket.reset();
        return KCDNSServiceError::ServiceNotRunning;
    }
    m_routers->join(this, router, interfaceIndex);
    m_joined = true;
    startCreate(true);
    return 0;
}

void KCNatPmpPcpRequest::startWithoutRouter()
{
    QMetaObject::invokeMethod(
        &m_context, [this] { deliver(errorReply(KCDNSServiceError::NoRouter)); }, Qt::QueuedConnection);
}

void KCNatPmpPcpRequest::routerLostState()
{
    if (m_exchange == Exchange::Create)
        return;
    startCreate(m_mapped);
}

void KCNatPmpPcpRequest::routerAnnounced(bool restarted, std::optional<uint32_t> publicAddress)
{
    if (m_exchange == Exchange::Create)
        return;
    // A request that failed tries again when the router shows up.
    if (restarted || !m_mapped || (publicAddress && *publicAddress != publicAddressGranted()))
        startCreate(m_mapped);
}

KCNatPmpPcpRequest::Protocol KCNatPmpPcpRequest::chooseProtocol() const
{
    const KCNATRouters::Facts &facts = m_routers->facts(m_router);
    if (addressOnly())
        return facts.natPmp == KCNATRouters::Speaks::No ? Protocol::Pcp : Protocol::NatPmp;
    return facts.pcp == KCNATRouters::Speaks::No ? Protocol::NatPmp : Protocol::Pcp;
}

bool KCNatPmpPcpRequest::participates(const Item &item) const
{
    if (item.kind == Kind::Address)
        return addressOnly() || m_protocol == Protocol::NatPmp;
    return item.active;
}

void KCNatPmpPcpRequest::startCreate(bool deliverAlways)
{
    m_switched = false;
    m_deliverAlways = deliverAlways;
    m_protocol = chooseProtocol();
    beginCreateTries();
}

void KCNatPmpPcpRequest::beginCreateTries()
{
    // Every protocol asked for is asked for again, also one a router gave a port of its own.
    m_exchange = Exchange::Create;
    m_renewTimer.stop();
    for (Item &item : m_items)
        item.active = item.kind != Kind::Address;
    for (Item &item : m_items)
        item.awaiting = participates(item);
    m_tries = 0;
    sendCreateTry();
}

void KCNatPmpPcpRequest::sendCreateTry()
{
    ++m_tries;
    for (Item &item : m_items)
        if (item.awaiting)
            send(item, false);
    m_lastSend = m_timers.now();
    m_retransmitTimer->start(FirstRetransmit * (1 << (m_tries - 1)));
}

void KCNatPmpPcpRequest::onRetransmitTimer()
{
    if (m_exchange != Exchange::Create)
        return;
    if (m_tries < MaxTries) {
        sendCreateTry();
        return;
    }
    finishCreate(std::nullopt);
}

void KCNatPmpPcpRequest::switchProtocol()
{
    KCNATRouters::Facts &facts = m_routers->facts(m_router);
    const bool toNatPmp = m_protocol == Protocol::Pcp;
    (toNatPmp ? facts.pcp : facts.natPmp) = KCNATRouters::Speaks::No;
    qCInfo(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: router %1 does not speak %2; using %3")
                                  .arg(addressText(m_router), toNatPmp ? QStringLiteral("PCP") : QStringLiteral("NAT-PMP"),
                                       toNatPmp ? QStringLiteral("NAT-PMP") : QStringLiteral("PCP"));
    if (m_exchange == Exchange::Renew)
        m_deliverAlways = false;
    m_protocol = toNatPmp ? Protocol::NatPmp : Protocol::Pcp;
    m_switched = true;
    beginCreateTries();
}

void KCNatPmpPcpRequest::finishCreate(std::optional<int32_t> failure)
{
    m_retransmitTimer->stop();
    m_exchange = Exchange::None;
    int32_t code = failure.value_or(KCDNSServiceError::NoError);
    if (!failure) {
        // An error the router sent says more than the silence of another part of the exchange.
        for (const Item &item : m_items)
            if (participates(item) && !item.awaiting && item.answerCode != 0) {
                code = item.answerCode;
                break;
            }
        if (code == 0 && anyAwaiting())
            code = KCDNSServiceError::Timeout;
    }
    for (Item &item : m_items)
        item.awaiting = false;
    if (code != 0) {
        deleteMappings();
        m_mapped = false;
        const KCNATPortMappingReply reply = errorReply(code);
        if (m_deliverAlways || !m_lastReply || !sameOutcome(reply, *m_lastReply))
            deliver(reply);
        return;
    }
    acceptAnswers();
    m_mapped = true;
    startLease();
    const KCNATPortMappingReply reply = successReply();
    if (m_deliverAlways || !m_lastReply || !sameOutcome(reply, *m_lastReply))
        deliver(reply);
}

void KCNatPmpPcpRequest::acceptAnswers()
{
    for (Item &item : m_items) {
        if (!participates(item))
            continue;
        item.externalPort = item.answerPort;
        item.externalAddress = item.answerAddress;
        item.lease = item.answerLease;
    }
    if (m_items.size() == 3 && m_items[1].active && m_items[1].externalPort != m_items[0].externalPort) {
        qCInfo(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: router %1 mapped local port %2 to TCP port %3 but UDP port %4; keeping the TCP mapping only")
                                      .arg(addressText(m_router))
                                      .arg(m_parameters.internalPort)
                                      .arg(m_items[0].externalPort)
                                      .arg(m_items[1].externalPort);
        send(m_items[1], true);
        m_items[1].active = false;
    }
    // The address probe has done its work.
    if (addressOnly() && m_protocol == Protocol::Pcp)
        send(m_items.front(), true);
}

void KCNatPmpPcpRequest::startLease()
{
    uint32_t lease = m_requestedLease;
    if (!addressOnly()) {
        lease = UINT32_MAX;
        for (const Item &item : m_items)
            if (item.kind != Kind::Address && item.active)
                lease = std::min(lease, item.lease);
    }
    m_lease = lease;
    m_grantTime = m_timers.now();
    m_expiry = m_grantTime + KCNATLease::leaseDuration(lease);
    m_renewAttempts = 0;
    m_renewError = 0;
    scheduleRenewal();
}

void KCNatPmpPcpRequest::scheduleRenewal()
{
    // The first renewal always goes out, even when a lease shorter than the spacing has run out
    // by then; later ones only while the lease lasts.
    const int attempt = m_renewAttempts + 1;
    const milliseconds earliest = m_lastSend + KCNATLease::MinimumRenewalSpacing;
    milliseconds at = std::max(m_grantTime + KCNATLease::renewalOffset(m_lease, attempt, uniformJitter), earliest);
    m_renewTimerEndsLease = attempt > 1 && at >= m_expiry;
    if (m_renewTimerEndsLease)
        at = std::max(m_expiry, earliest);
    m_renewTimer.startAt(at);
}

void KCNatPmpPcpRequest::onRenewTimer()
{
    if (m_renewTimerEndsLease)
        leaseRanOut();
    else
        sendRenewal();
}

void KCNatPmpPcpRequest::sendRenewal()
{
    // A single packet per mapping: the next attempt, not a retransmission, follows a loss.
    m_exchange = Exchange::Renew;
    m_switched = false;
    for (Item &item : m_items) {
        item.awaiting = participates(item);
        if (item.awaiting)
            send(item, false);
    }
    m_lastSend = m_timers.now();
    ++m_renewAttempts;
    scheduleRenewal();
}

void KCNatPmpPcpRequest::finishRenewal()
{
    m_exchange = Exchange::None;
    for (const Item &item : m_items)
        if (participates(item) && item.answerCode != 0) {
            // The renewal timer is armed for the next attempt, or for the end of the lease.
            m_renewError = item.answerCode;
            return;
        }
    acceptAnswers();
    startLease();
    const KCNATPortMappingReply reply = successReply();
    if (!m_lastReply || !sameOutcome(reply, *m_lastReply))
        deliver(reply);
}

void KCNatPmpPcpRequest::leaseRanOut()
{
    m_exchange = Exchange::None;
    for (Item &item : m_items)
        item.awaiting = false;
    m_mapped = false;
    qCInfo(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: the lease from router %1 for local port %2 ran out without a renewal")
                                  .arg(addressText(m_router))
                                  .arg(m_parameters.internalPort);
    deliver(errorReply(m_renewError != 0 ? m_renewError : KCDNSServiceError::Timeout));
}

void KCNatPmpPcpRequest::send(Item &item, bool deleting)
{
    if (!m_socket)
        return;
    const uint32_t lifetime = deleting ? 0 : (item.kind == Kind::Address ? AddressProbeLease : m_requestedLease);
    const uint16_t suggestedPort = item.externalPort != 0 ? item.externalPort : m_parameters.externalPort;
    if (m_protocol == Protocol::Pcp) {
        PcpMapRequest request;
        request.ianaProtocol = item.kind == Kind::TCP ? IanaTCP : IanaUDP;
        request.internalPort = item.kind == Kind::Address ? m_socket->localPort() : m_parameters.internalPort;
        request.suggestedExternalPort = item.kind == Kind::Address ? 0 : suggestedPort;
        request.suggestedExternalAddress = item.kind == Kind::Address ? 0 : item.externalAddress;
        request.lifetime = lifetime;
        request.clientAddress = m_socket->localAddress();
        request.nonce = item.nonce;
        m_socket->send(pcpMapRequest(request));
        item.mayExist = !deleting;
    } else if (item.kind == Kind::Address) {
        if (!deleting)
            m_socket->send(natPmpAddressRequest());
    } else {
        m_socket->send(natPmpMapRequest(item.kind == Kind::TCP ? NatPmpOpMapTCP : NatPmpOpMapUDP,
                                        m_parameters.internalPort, suggestedPort, lifetime));
        item.mayExist = !deleting;
    }
}

void KCNatPmpPcpRequest::deleteMappings()
{
    for (Item &item : m_items)
        if (item.mayExist)
            send(item, true);
}

void KCNatPmpPcpRequest::onDatagram(const KCConnectedUdpSocket::Datagram &datagram)
{
    if (datagram.sourceAddress != m_router || datagram.sourcePort != m_serverPort) {
        ignore(QStringLiteral("it came from %1:%2").arg(addressText(datagram.sourceAddress)).arg(datagram.sourcePort));
        return;
    }
    QString why;
    const std::optional<Response> response = parseResponse(datagram.data, &why);
    if (!response) {
        ignore(why);
        return;
    }
    handleResponse(*response);
}

void KCNatPmpPcpRequest::onRefused()
{
    // The router has nothing listening on the port-mapping port.
    if (m_exchange == Exchange::Create)
        finishCreate(KCDNSServiceError::NATPortMappingUnsupported);
    else if (m_exchange == Exchange::Renew)
        m_renewError = KCDNSServiceError::NATPortMappingUnsupported;
}

void KCNatPmpPcpRequest::handleResponse(const Response &response)
{
    if (isVersionMismatch(response)) {
        // Once per exchange: copies of the answer that made us switch arrive after the switch.
        if (m_exchange != Exchange::None && !m_switched)
            switchProtocol();
        return;
    }
    QString why;
    Item *item = matchItem(response, &why);
    if (!item) {
        ignore(why);
        return;
    }
    KCNATRouters::Facts &facts = m_routers->facts(m_router);
    (m_protocol == Protocol::Pcp ? facts.pcp : facts.natPmp) = KCNATRouters::Speaks::Yes;
    const bool creating = m_exchange == Exchange::Create;
    const auto rule = response.version == NatPmpVersion ? KCNATServerEpoch::Rule::NatPmp : KCNATServerEpoch::Rule::Pcp;
    // A router that lost its state makes every request on it start over, this one included,
    // unless it is asking already.
    if (!m_routers->observeEpoch(m_router, rule, response.epoch) && !creating)
        return;
    // A late copy, or the answer to a deletion.
    if (!item->awaiting)
        return;
    item->awaiting = false;
    item->answerCode = response.version == NatPmpVersion ? KCNATResultCodes::fromNatPmp(response.resultCode)
                                                         : KCNATResultCodes::fromPcp(response.resultCode);
    item->answerPort = response.externalPort;
    item->answerAddress = response.externalAddress;
    item->answerLease = response.lifetime;
    if (anyAwaiting())
        return;
    if (m_exchange == Exchange::Create)
        finishCreate(std::nullopt);
    else
        finishRenewal();
}

bool KCNatPmpPcpRequest::isVersionMismatch(const Response &response) const
{
    if (m_protocol == Protocol::Pcp) {
        // A NAT-PMP router answers our PCP request in NAT-PMP, with opcode 128 + 1 or, as
        // RFC 6886's erratum puts it, 128.
        if (response.version == NatPmpVersion)
            return response.opcode == NatPmpOpAddress || response.opcode == PcpOpMap;
        if (response.resultCode != ResultUnsupportedVersion || response.opcode != PcpOpMap)
            return false;
        return !response.hasMapping
               || std::any_of(m_items.begin(), m_items.end(), [&](const Item &item) { return item.nonce == response.nonce; });
    }
    return response.resultCode == ResultUnsupportedVersion && response.opcode <= NatPmpOpMapTCP;
}

KCNatPmpPcpRequest::Item *KCNatPmpPcpRequest::matchItem(const Response &response, QString *why)
{
    if (m_protocol == Protocol::Pcp) {
        if (response.version != PcpVersion) {
            *why = QStringLiteral("version %1 in answer to PCP").arg(response.version);
            return nullptr;
        }
        if (response.opcode != PcpOpMap) {
            *why = QStringLiteral("PCP opcode %1 in answer to MAP").arg(response.opcode);
            return nullptr;
        }
        if (!response.hasMapping) {
            *why = QStringLiteral("PCP result %1 without the request's nonce").arg(response.resultCode);
            return nullptr;
        }
        for (Item &item : m_items) {
            if (item.nonce != response.nonce)
                continue;
            const uint8_t protocol = item.kind == Kind::TCP ? IanaTCP : IanaUDP;
            const uint16_t internalPort = item.kind == Kind::Address ? m_socket->localPort() : m_parameters.internalPort;
            if (response.ianaProtocol != protocol || response.internalPort != internalPort) {
                *why = QStringLiteral("protocol %1 and internal port %2 do not match the request")
                           .arg(response.ianaProtocol)
                           .arg(response.internalPort);
                return nullptr;
            }
            return &item;
        }
        *why = QStringLiteral("wrong PCP nonce");
        return nullptr;
    }
    if (response.version != NatPmpVersion) {
        *why = QStringLiteral("version %1 in answer to NAT-PMP").arg(response.version);
        return nullptr;
    }
    const Kind kind = response.opcode == NatPmpOpAddress ? Kind::Address
                      : response.opcode == NatPmpOpMapUDP ? Kind::UDP
                                                          : Kind::TCP;
    const auto it = std::find_if(m_items.begin(), m_items.end(),
                                 [&](const Item &item) { return item.kind == kind && participates(item); });
    if (it == m_items.end()) {
        *why = QStringLiteral("NAT-PMP opcode %1 was not asked for").arg(response.opcode + 128);
        return nullptr;
    }
    if (response.hasMapping && response.internalPort != m_parameters.internalPort) {
        *why = QStringLiteral("internal port %1 does not match the request").arg(response.internalPort);
        return nullptr;
    }
    return &*it;
}

void KCNatPmpPcpRequest::ignore(const QString &why)
{
    // Once per request: a flood of bad packets must not flood the log.
    if (m_loggedIgnored)
        return;
    m_loggedIgnored = true;
    qCWarning(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: ignored a packet from router %1: %2; further ignored packets are not logged")
                                     .arg(addressText(m_router), why);
}

bool KCNatPmpPcpRequest::anyAwaiting() const
{
    return std::any_of(m_items.begin(), m_items.end(), [](const Item &item) { return item.awaiting; });
}

uint32_t KCNatPmpPcpRequest::activeProtocols() const
{
    uint32_t protocols = 0;
    for (const Item &item : m_items)
        if (item.active)
            protocols |= item.kind == Kind::TCP ? KCNATProtocol::TCP : item.kind == Kind::UDP ? KCNATProtocol::UDP : 0;
    return protocols;
}

uint32_t KCNatPmpPcpRequest::publicAddressGranted() const
{
    if (addressOnly() || m_protocol == Protocol::NatPmp)
        return m_items.back().externalAddress;
    return m_items.front().externalAddress;
}

KCNATPortMappingReply KCNatPmpPcpRequest::successReply() const
{
    KCNATPortMappingReply reply;
    reply.interfaceIndex = m_interfaceIndex;
    reply.externalAddress = qToBigEndian(publicAddressGranted());
    reply.protocol = activeProtocols();
    reply.internalPort = m_parameters.internalPort;
    if (!addressOnly()) {
        reply.externalPort = m_items.front().externalPort;
        reply.ttl = m_lease;
    }
    return reply;
}

KCNATPortMappingReply KCNatPmpPcpRequest::errorReply(int32_t code) const
{
    KCNATPortMappingReply reply;
    reply.interfaceIndex = m_interfaceIndex;
    reply.errorCode = code;
    reply.protocol = m_parameters.protocols;
    reply.internalPort = m_parameters.internalPort;
    return reply;
}

void KCNatPmpPcpRequest::deliver(const KCNATPortMappingReply &reply)
{
    m_lastReply = reply;
    const KCNATPortMappingService::ReplyHandler onReply = m_onReply;
    onReply(reply);
}
