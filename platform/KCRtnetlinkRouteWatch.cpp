#include "KCRtnetlinkRouteWatch.h"

#include "KCLog.h"
#include "KCRtnetlinkMessages.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <linux/rtnetlink.h>

namespace {

// Enough to empty any realistic burst in one go while keeping the event loop responsive if the
// kernel never stops talking; the notifier fires again for the rest.
constexpr int maxDatagramsPerWakeUp = 1024;

bool isRoutingEvent(quint16 type)
{
    switch (type) {
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
    case RTM_NEWADDR:
    case RTM_DELADDR:
    case RTM_NEWLINK:
    case RTM_DELLINK:
        return true;
    default:
        return false;
    }
}

} // namespace

KCRtnetlinkRouteWatch::KCRtnetlinkRouteWatch(const KCRtnetlinkSocket::Opener &opener, QObject *parent)
    : KCRouteWatch(parent)
{
    m_socket = KCRtnetlinkSocket::open(opener, RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE);
    if (!m_socket) {
        qCWarning(lcKC).noquote() << QStringLiteral("Cannot watch the routing table: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_socket->descriptor(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &KCRtnetlinkRouteWatch::drain);
}

KCRtnetlinkRouteWatch::~KCRtnetlinkRouteWatch() = default;

void KCRtnetlinkRouteWatch::drain()
{
    bool changed = false;
    QByteArray datagram;
    for (int i = 0; i < maxDatagramsPerWakeUp; ++i) {
        const auto status = m_socket->readPending(datagram);
        if (status == KCRtnetlinkSocket::ReadStatus::Overflow) {
            changed = true;
            continue;
        }
        if (status != KCRtnetlinkSocket::ReadStatus::Datagram)
            break;
        const auto messages = KCRtnetlink::splitDatagram(datagram);
        if (!messages)
            continue;
        for (const auto &message : *messages)
            changed = changed || isRoutingEvent(message.type);
    }
    if (changed)
        Q_EMIT routingChanged();
}
