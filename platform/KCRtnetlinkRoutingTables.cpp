#include "KCRtnetlinkRoutingTables.h"

#include "KCRtnetlinkMessages.h"

#include <cstring>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace {

// A desktop's tables are a few kilobytes; a router with a full table is not what we run on.
constexpr qsizetype maxTableBytes = 16 << 20;

// The messages of one type that parse; a malformed one is left out rather than trusted.
template<typename T>
QList<T> parseAll(const QList<KCRtnetlinkSocket::Reply> &messages, quint16 type, std::optional<T> (*parse)(QByteArrayView))
{
    QList<T> parsed;
    for (const auto &message : messages) {
        if (message.type != type)
            continue;
        if (const auto value = parse(message.payload))
            parsed.append(*value);
    }
    return parsed;
}

} // namespace

KCRtnetlinkRoutingTables::KCRtnetlinkRoutingTables(KCRtnetlinkSocket::Opener opener)
    : m_opener(std::move(opener))
{
}

std::optional<KCGlobalIPv4State> KCRtnetlinkRoutingTables::defaultIPv4Route() const
{
    auto socket = KCRtnetlinkSocket::open(m_opener, 0);
    if (!socket)
        return std::nullopt;
    const auto routeDump = socket->dump(RTM_GETROUTE, AF_INET, maxTableBytes);
    if (routeDump.error != KCRtnetlinkSocket::DumpError::None)
        return std::nullopt;
    const QList<KCRtnetlink::Route> routes = parseAll(routeDump.messages, RTM_NEWROUTE, KCRtnetlink::parseRoute);
    if (!KCRtnetlink::selectDefaultRoute(routes, {}))
        return std::nullopt;
    // The route names its interface by index; the link table gives the name.
    const auto linkDump = socket->dump(RTM_GETLINK, AF_UNSPEC, maxTableBytes);
    const QList<KCRtnetlink::Link> links = parseAll(linkDump.messages, RTM_NEWLINK, KCRtnetlink::parseLink);
    return KCRtnetlink::selectDefaultRoute(routes, links);
}

KCRoutingTables::Neighbours KCRtnetlinkRoutingTables::ipv4Neighbours() const
{
    Neighbours neighbours;
    auto socket = KCRtnetlinkSocket::open(m_opener, 0);
    if (!socket) {
        neighbours.error = Error::RequestFailed;
        return neighbours;
    }
    const auto dump = socket->dump(RTM_GETNEIGH, AF_INET, maxTableBytes);
    switch (dump.error) {
    case KCRtnetlinkSocket::DumpError::None:
        break;
    case KCRtnetlinkSocket::DumpError::Request:
        neighbours.error = Error::RequestFailed;
        return neighbours;
    case KCRtnetlinkSocket::DumpError::TooLarge:
        neighbours.error = Error::TooLarge;
        return neighbours;
    case KCRtnetlinkSocket::DumpError::Receive:
        neighbours.error = Error::ReadFailed;
        return neighbours;
    }
    for (const KCRtnetlink::Neighbour &entry : parseAll(dump.messages, RTM_NEWNEIGH, KCRtnetlink::parseNeighbour)) {
        if (entry.family != AF_INET || entry.destination.size() != 4)
            continue;
        // Failed and unresolved entries have no address worth reporting (or a stale one).
        if (entry.state == NUD_NONE || (entry.state & (NUD_INCOMPLETE | NUD_FAILED)) || entry.linkLayerAddress.isEmpty())
            continue;
        KCNeighbour neighbour;
        std::memcpy(&neighbour.address, entry.destination.constData(), 4);
        neighbour.hardwareAddress = entry.linkLayerAddress;
        neighbours.entries.append(neighbour);
    }
    return neighbours;
}
