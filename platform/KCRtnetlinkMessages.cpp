#include "KCRtnetlinkMessages.h"

#include <cstring>
#include <functional>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

namespace KCRtnetlink {
namespace {

template<typename T>
T readAt(QByteArrayView bytes, qsizetype offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// Visits the attributes that follow a message's fixed header; false when one of them is
// malformed, in which case the message is not trusted at all.
bool forEachAttribute(QByteArrayView attributes, const std::function<void(quint16, QByteArrayView)> &visit)
{
    qsizetype offset = 0;
    while (attributes.size() - offset >= qsizetype(sizeof(rtattr))) {
        const auto header = readAt<rtattr>(attributes, offset);
        if (header.rta_len < sizeof(rtattr) || header.rta_len > attributes.size() - offset)
            return false;
        visit(header.rta_type & NLA_TYPE_MASK,
              attributes.sliced(offset + qsizetype(sizeof(rtattr)), header.rta_len - qsizetype(sizeof(rtattr))));
        offset += qsizetype(RTA_ALIGN(header.rta_len));
    }
    return true;
}

std::optional<quint32> u32(QByteArrayView value)
{
    if (value.size() != 4)
        return std::nullopt;
    return readAt<quint32>(value, 0);
}

// Reads a message's fixed header and visits the attributes after it; false when either does not
// fit in the payload.
template<typename Header>
bool readMessage(QByteArrayView payload, Header &header, const std::function<void(quint16, QByteArrayView)> &visit)
{
    if (payload.size() < qsizetype(NLMSG_ALIGN(sizeof(Header))))
        return false;
    header = readAt<Header>(payload, 0);
    return forEachAttribute(payload.sliced(NLMSG_ALIGN(sizeof(Header))), visit);
}

// The first live next hop of a multipath route: its gateway and interface.
bool readFirstNextHop(QByteArrayView hops, Route &route)
{
    qsizetype offset = 0;
    while (hops.size() - offset >= qsizetype(sizeof(rtnexthop))) {
        const auto hop = readAt<rtnexthop>(hops, offset);
        if (hop.rtnh_len < sizeof(rtnexthop) || hop.rtnh_len > hops.size() - offset)
            return false;
        if (!(hop.rtnh_flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN))) {
            std::optional<quint32> gateway;
            const bool wellFormed = forEachAttribute(
                hops.sliced(offset + qsizetype(sizeof(rtnexthop)), hop.rtnh_len - qsizetype(sizeof(rtnexthop))),
                [&](quint16 type, QByteArrayView value) {
                    if (type == RTA_GATEWAY)
                        gateway = u32(value);
                });
            if (!wellFormed)
                return false;
            route.gateway = gateway;
            route.outputInterface = hop.rtnh_ifindex;
            return true;
        }
        offset += qsizetype(RTNH_ALIGN(hop.rtnh_len));
    }
    return true;
}

} // namespace

std::optional<QList<Message>> splitDatagram(QByteArrayView datagram)
{
    QList<Message> messages;
    qsizetype offset = 0;
    while (offset < datagram.size()) {
        if (datagram.size() - offset < qsizetype(sizeof(nlmsghdr)))
            return std::nullopt;
        const auto header = readAt<nlmsghdr>(datagram, offset);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size() - offset)
            return std::nullopt;
        Message message;
        message.type = header.nlmsg_type;
        message.flags = header.nlmsg_flags;
        message.sequence = header.nlmsg_seq;
        message.portId = header.nlmsg_pid;
        message.payload = datagram.sliced(offset + qsizetype(NLMSG_HDRLEN), header.nlmsg_len - qsizetype(NLMSG_HDRLEN));
        messages.append(message);
        offset += std::min<qsizetype>(NLMSG_ALIGN(header.nlmsg_len), datagram.size() - offset);
    }
    return messages;
}

std::optional<Route> parseRoute(QByteArrayView payload)
{
    rtmsg header{};
    Route route;
    std::optional<quint32> table;
    bool multipathWellFormed = true;
    const bool wellFormed = readMessage(payload, header, [&](quint16 type, QByteArrayView value) {
        switch (type) {
        case RTA_TABLE:
            table = u32(value);
            break;
        case RTA_GATEWAY:
            if (header.rtm_family == AF_INET)
                route.gateway = u32(value);
            break;
        case RTA_OIF:
            if (const auto index = u32(value))
                route.outputInterface = int(*index);
            break;
        case RTA_PRIORITY:
            if (const auto priority = u32(value))
                route.priority = *priority;
            break;
        case RTA_MULTIPATH:
            multipathWellFormed = readFirstNextHop(value, route);
            break;
        default:
            break;
        }
    });
    if (!wellFormed || !multipathWellFormed)
        return std::nullopt;
    route.family = header.rtm_family;
    route.destinationLength = header.rtm_dst_len;
    route.type = header.rtm_type;
    // Tables above 255 are named only by the attribute.
    route.table = table.value_or(header.rtm_table);
    route.flags = header.rtm_flags;
    return route;
}

std::optional<Link> parseLink(QByteArrayView payload)
{
    ifinfomsg header{};
    Link link;
    const bool wellFormed = readMessage(payload, header, [&](quint16 type, QByteArrayView value) {
        if (type != IFLA_IFNAME)
            return;
        const qsizetype end = value.indexOf('\0');
        const QByteArrayView name = end < 0 ? value : value.first(end);
        if (name.size() < IFNAMSIZ)
            link.name = QString::fromUtf8(name);
    });
    if (!wellFormed)
        return std::nullopt;
    link.index = header.ifi_index;
    return link;
}

std::optional<Neighbour> parseNeighbour(QByteArrayView payload)
{
    ndmsg header{};
    Neighbour neighbour;
    const bool wellFormed = readMessage(payload, header, [&](quint16 type, QByteArrayView value) {
        if (type == NDA_DST)
            neighbour.destination = value.toByteArray();
        else if (type == NDA_LLADDR)
            neighbour.linkLayerAddress = value.toByteArray();
    });
    if (!wellFormed)
        return std::nullopt;
    neighbour.family = header.ndm_family;
    neighbour.interfaceIndex = header.ndm_ifindex;
    neighbour.state = header.ndm_state;
    return neighbour;
}

std::optional<int> parseError(QByteArrayView payload)
{
    if (payload.size() < qsizetype(sizeof(int)))
        return std::nullopt;
    return -readAt<int>(payload, 0);
}

std::optional<KCGlobalIPv4State> selectDefaultRoute(const QList<Route> &routes, const QList<Link> &links)
{
    const Route *best = nullptr;
    for (const Route &route : routes) {
        const bool usable = route.family == AF_INET && route.destinationLength == 0 && route.table == RT_TABLE_MAIN
            && route.type == RTN_UNICAST && route.outputInterface > 0
            && !(route.flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN));
        if (usable && (!best || route.priority < best->priority))
            best = &route;
    }
    if (!best)
        return std::nullopt;
    KCGlobalIPv4State state;
    state.interfaceIndex = best->outputInterface;
    if (best->gateway)
        state.router = ipv4Text(*best->gateway);
    for (const Link &link : links) {
        if (link.index == best->outputInterface) {
            state.primaryInterface = link.name;
            break;
        }
    }
    return state;
}

QString ipv4Text(quint32 networkOrder)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&networkOrder);
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

} // namespace KCRtnetlink
