#include "KCRtnetlinkRoutingTables.h"

#include "KCRtnetlinkMessages.h"

#include <cstring>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace {

// A desktop's tables are a few kilobytes; a router with a full table is not what we run on.
constexpr qsizetype maxTableBytes = 16 << 20;

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
    QList<KCRtnetlink::Route> routes;
    for (const auto &message : routeDump.messages) {
        if (message.type != RTM_NEWROUTE)
            continue;
        if (const auto route = KCRtnetlink::parseRoute(message.payload))
            routes.append(*route);
    }
    if (!KCRtnetlink::selectDefaultRoute(routes, {}))
        return std::nullopt;

    const auto linkDump = socket->dump(RTM_GETLINK, AF_UNSPEC, maxTableBytes);
    QList<KCRtnetlink::Link> links;
    for (const auto &message : linkDump.messages) {
        if (message.type != RTM_NEWLINK)
            continue;
        if (const auto link = KCRtnetlink::parseLink(message.payload))
            links.append(*link);
    }
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
    for (const auto &message : dump.messages) {
        if (message.type != RTM_NEWNEIGH)
            continue;
        const auto entry = KCRtnetlink::parseNeighbour(message.payload);
        if (!entry || entry->family != AF_INET || entry->destination.size() != 4)
            continue;
        // Failed and unresolved entries have no address worth reporting (or a stale one).
        if (entry->state == NUD_NONE || (entry->state & (NUD_INCOMPLETE | NUD_FAILED)) || entry->linkLayerAddress.isEmpty())
            continue;
        KCNeighbour neighbour;
        std::memcpy(&neighbour.address, entry->destination.constData(), 4);
        neighbour.hardwareAddress = entry->linkLayerAddress;
        neighbours.entries.append(neighbour);
    }
    return neighbours;
}
