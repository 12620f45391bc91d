#include "KCNATRouters.h"

#include "KCLog.h"
#include "KCNatPmpPcpWire.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <algorithm>

KCNATRouters::KCNATRouters(KCTimerSource &timers, uint16_t serverPort, QHostAddress announcementGroup,
                           uint16_t announcementPort)
    : m_timers(timers)
    , m_serverPort(serverPort)
    , m_group(std::move(announcementGroup))
    , m_announcementPort(announcementPort)
{
}

KCNATRouters::~KCNATRouters() = default;

void KCNATRouters::join(Member *member, uint32_t router, uint32_t interfaceIndex)
{
    m_members.push_back({member, router, interfaceIndex});
    ensureListening();
    if (interfaceIndex != 0 && m_interfaceUse[interfaceIndex]++ == 0)
        setMembership(interfaceIndex, true);
}

void KCNATRouters::leave(Member *member)
{
    const auto it = std::find_if(m_members.begin(), m_members.end(), [member](const Joined &j) { return j.member == member; });
    if (it == m_members.end())
        return;
    const uint32_t interfaceIndex = it->interfaceIndex;
    m_members.erase(it);
    if (interfaceIndex != 0 && --m_interfaceUse[interfaceIndex] == 0) {
        m_interfaceUse.erase(interfaceIndex);
        setMembership(interfaceIndex, false);
    }
    if (m_members.empty())
        m_listener.reset();
}

uint16_t KCNATRouters::announcementListenPort() const
{
    return m_listener ? m_listener->localPort() : 0;
}

void KCNATRouters::ensureListening()
{
    if (m_listener)
        return;
    m_listener = std::make_unique<QUdpSocket>();
    // Other programs on this machine may listen for the same announcements.
    if (!m_listener->bind(QHostAddress::AnyIPv4, m_announcementPort,
                          QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (!m_loggedListenFailure) {
            m_loggedListenFailure = true;
            qCWarning(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: cannot listen for router announcements on port %1: %2")
                                             .arg(m_announcementPort)
                                             .arg(m_listener->errorString());
        }
        return;
    }
    QObject::connect(m_listener.get(), &QUdpSocket::readyRead, m_listener.get(), [this] { readAnnouncements(); });
}

void KCNATRouters::setMembership(uint32_t interfaceIndex, bool joined)
{
    if (!m_listener || m_listener->state() != QAbstractSocket::BoundState)
        return;
    const QNetworkInterface interface = QNetworkInterface::interfaceFromIndex(int(interfaceIndex));
    if (!interface.isValid())
        return;
    const bool done = joined ? m_listener->joinMulticastGroup(m_group, interface)
                             : m_listener->leaveMulticastGroup(m_group, interface);
    if (!done && joined && !m_loggedListenFailure) {
        m_loggedListenFailure = true;
        qCWarning(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: cannot join %1 on %2 for router announcements: %3")
                                         .arg(m_group.toString(), interface.name(), m_listener->errorString());
    }
}

void KCNATRouters::readAnnouncements()
{
    // Members never destroy themselves from their callbacks, so the listener outlives this loop
    // unless the last member leaves, which only happens outside it.
    while (m_listener && m_listener->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_listener->receiveDatagram(2048);
        if (!datagram.isValid())
            break;
        handleAnnouncement(datagram.data(), datagram.senderAddress(), uint16_t(datagram.senderPort()));
    }
}

void KCNATRouters::handleAnnouncement(const QByteArray &datagram, const QHostAddress &sender, uint16_t senderPort)
{
    bool isIPv4 = false;
    const uint32_t router = sender.toIPv4Address(&isIPv4);
    if (!isIPv4 || senderPort != m_serverPort || membersOn(router).empty())
        return ignoreAnnouncement(QStringLiteral("from %1:%2, which is not our router").arg(sender.toString()).arg(senderPort));
    QString why;
    const auto response = KCNatPmpPcpWire::parseResponse(datagram, &why);
    if (!response)
        return ignoreAnnouncement(why);
    const bool natPmp = response->version == KCNatPmpPcpWire::NatPmpVersion
                        && response->opcode == KCNatPmpPcpWire::NatPmpOpAddress && response->hasAddress;
    const bool pcp = response->version == KCNatPmpPcpWire::PcpVersion
                     && response->opcode == KCNatPmpPcpWire::PcpOpAnnounce;
    if ((!natPmp && !pcp) || response->resultCode != 0)
        return ignoreAnnouncement(QStringLiteral("not an announcement"));
    const auto rule = natPmp ? KCNATServerEpoch::Rule::NatPmp : KCNATServerEpoch::Rule::Pcp;
    KCNATServerEpoch &announcements = facts(router).announcements;
    const bool heardBefore = announcements.known();
    const bool restarted = !announcements.observe(response->epoch, m_timers.now(), rule) || !heardBefore;
    if (!observeEpoch(router, rule, response->epoch))
        return;
    const std::optional<uint32_t> publicAddress = natPmp ? std::optional<uint32_t>(response->externalAddress) : std::nullopt;
    for (Member *member : membersOn(router))
        member->routerAnnounced(restarted, publicAddress);
}

void KCNATRouters::ignoreAnnouncement(const QString &why)
{
    if (m_loggedIgnored)
        return;
    m_loggedIgnored = true;
    qCWarning(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: ignored an announcement packet: %1; further ignored announcements are not logged").arg(why);
}

bool KCNATRouters::observeEpoch(uint32_t router, KCNATServerEpoch::Rule rule, uint32_t epoch)
{
    if (facts(router).epoch.observe(epoch, m_timers.now(), rule))
        return true;
    qCInfo(lcKC).noquote() << QStringLiteral("NAT-PMP/PCP: router %1 lost its port mappings (epoch %2); requesting them again")
                                  .arg(QHostAddress(router).toString())
                                  .arg(epoch);
    for (Member *member : membersOn(router))
        member->routerLostState();
    return false;
}

std::vector<KCNATRouters::Member *> KCNATRouters::membersOn(uint32_t router) const
{
    std::vector<Member *> members;
    for (const Joined &joined : m_members)
        if (joined.router == router)
            members.push_back(joined.member);
    return members;
}
