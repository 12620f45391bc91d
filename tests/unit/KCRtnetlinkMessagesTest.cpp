#include "KCRtnetlinkMessages.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

namespace {

template<typename T>
QByteArray bytesOf(const T &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

QByteArray padded(QByteArray bytes)
{
    while (bytes.size() % 4)
        bytes.append('\0');
    return bytes;
}

QByteArray attribute(quint16 type, const QByteArray &value)
{
    rtattr header{};
    header.rta_len = quint16(sizeof header + size_t(value.size()));
    header.rta_type = type;
    return padded(bytesOf(header) + value);
}

QByteArray u32(quint32 value)
{
    return bytesOf(value);
}

QByteArray ipv4(const char *text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return bytesOf(address.s_addr);
}

QByteArray message(quint16 type, const QByteArray &payload, quint32 sequence = 1)
{
    nlmsghdr header{};
    header.nlmsg_len = quint32(NLMSG_HDRLEN + size_t(payload.size()));
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    return padded(bytesOf(header) + payload);
}

struct RouteShape {
    quint8 family = AF_INET;
    quint8 destinationLength = 0;
    quint8 table = RT_TABLE_MAIN;
    quint8 type = RTN_UNICAST;
    quint32 flags = 0;
};

QByteArray route(const RouteShape &shape, const QByteArray &attributes)
{
    rtmsg header{};
    header.rtm_family = shape.family;
    header.rtm_dst_len = shape.destinationLength;
    header.rtm_table = shape.table;
    header.rtm_type = shape.type;
    header.rtm_flags = shape.flags;
    return bytesOf(header) + attributes;
}

QByteArray link(int index, const QByteArray &name)
{
    ifinfomsg header{};
    header.ifi_index = index;
    return bytesOf(header) + attribute(IFLA_IFNAME, name + '\0');
}

QByteArray nextHop(int index, quint8 flags, const QByteArray &attributes)
{
    rtnexthop hop{};
    hop.rtnh_len = quint16(sizeof hop + size_t(attributes.size()));
    hop.rtnh_flags = flags;
    hop.rtnh_ifindex = index;
    return bytesOf(hop) + attributes;
}

const QList<KCRtnetlink::Link> links = {{2, QStringLiteral("eth0")}, {3, QStringLiteral("wlan0")}};

std::optional<KCGlobalIPv4State> selectFrom(const QList<QByteArray> &payloads)
{
    QList<KCRtnetlink::Route> routes;
    for (const QByteArray &payload : payloads) {
        const auto parsed = KCRtnetlink::parseRoute(payload);
        EXPECT_TRUE(parsed.has_value());
        if (parsed)
            routes.append(*parsed);
    }
    return KCRtnetlink::selectDefaultRoute(routes, links);
}

QByteArray defaultVia(const char *gateway, int index, quint32 metric = 0, const RouteShape &shape = {})
{
    QByteArray attributes = attribute(RTA_GATEWAY, ipv4(gateway)) + attribute(RTA_OIF, u32(quint32(index)));
    if (metric)
        attributes += attribute(RTA_PRIORITY, u32(metric));
    return route(shape, attributes);
}

} // namespace

TEST(KCRtnetlinkMessages, SelectsTheMainTablesUsableDefaultRouteWithTheLowestMetric)
{
    const KCGlobalIPv4State ethernet{QStringLiteral("192.168.1.1"), QStringLiteral("eth0"), 2};
    const KCGlobalIPv4State wifi{QStringLiteral("10.0.0.1"), QStringLiteral("wlan0"), 3};
    RouteShape otherTable;
    otherTable.table = 100;
    RouteShape local;
    local.table = RT_TABLE_LOCAL;
    RouteShape notDefault;
    notDefault.destinationLength = 24;
    RouteShape unreachable;
    unreachable.type = RTN_UNREACHABLE;
    RouteShape linkDown;
    linkDown.flags = RTNH_F_LINKDOWN;
    RouteShape ipv6;
    ipv6.family = AF_INET6;
    RouteShape largeTable; // tables above 255 are only named by the attribute
    largeTable.table = RT_TABLE_COMPAT;

    struct Case {
        const char *what;
        QList<QByteArray> routes;
        std::optional<KCGlobalIPv4State> expected;
    };
    const QList<Case> cases = {
        {"one default route", {defaultVia("192.168.1.1", 2)}, ethernet},
        {"no routes", {}, std::nullopt},
        {"lowest metric wins", {defaultVia("192.168.1.1", 2, 600), defaultVia("10.0.0.1", 3, 100)}, wifi},
        {"first of equal metrics", {defaultVia("192.168.1.1", 2, 100), defaultVia("10.0.0.1", 3, 100)}, ethernet},
        {"other tables, subnets, unreachable, link-down and IPv6 routes do not count",
         {defaultVia("10.0.0.1", 3, 0, otherTable), defaultVia("10.0.0.1", 3, 0, local), defaultVia("10.0.0.1", 3, 0, notDefault),
          defaultVia("10.0.0.1", 3, 0, unreachable), defaultVia("10.0.0.1", 3, 0, linkDown), route(ipv6, attribute(RTA_OIF, u32(3))),
          defaultVia("192.168.1.1", 2, 1000)},
         ethernet},
        {"the table attribute decides",
         {route(largeTable, attribute(RTA_TABLE, u32(1000)) + attribute(RTA_GATEWAY, ipv4("10.0.0.1")) + attribute(RTA_OIF, u32(3))),
          route(largeTable, attribute(RTA_TABLE, u32(RT_TABLE_MAIN)) + attribute(RTA_GATEWAY, ipv4("192.168.1.1"))
                                + attribute(RTA_OIF, u32(2)))},
         ethernet},
        {"a point-to-point default route has no router",
         {route({}, attribute(RTA_OIF, u32(3)))},
         KCGlobalIPv4State{QString(), QStringLiteral("wlan0"), 3}},
        {"an interface the link table lacks has no name",
         {defaultVia("192.168.1.1", 9)},
         KCGlobalIPv4State{QStringLiteral("192.168.1.1"), QString(), 9}},
        {"multipath: the first live next hop",
         {route({}, attribute(RTA_MULTIPATH, nextHop(2, RTNH_F_DEAD, attribute(RTA_GATEWAY, ipv4("192.168.1.1")))
                                                + nextHop(3, 0, attribute(RTA_GATEWAY, ipv4("10.0.0.1")))))},
         wifi},
    };
    for (const Case &c : cases)
        EXPECT_EQ(selectFrom(c.routes), c.expected) << c.what;
}

TEST(KCRtnetlinkMessages, RefusesMessagesWhoseLengthsDoNotFit)
{
    const QByteArray good = message(RTM_NEWROUTE, defaultVia("192.168.1.1", 2));
    const auto split = KCRtnetlink::splitDatagram(good + message(NLMSG_DONE, u32(0)));
    ASSERT_TRUE(split.has_value());
    ASSERT_EQ(split->size(), 2);
    EXPECT_EQ(split->at(0).type, RTM_NEWROUTE);
    EXPECT_EQ(split->at(1).type, NLMSG_DONE);

    QByteArray claimsTooMuch = good;
    const quint32 tooLong = quint32(good.size() + 4);
    std::memcpy(claimsTooMuch.data(), &tooLong, 4);
    QByteArray claimsTooLittle = good;
    const quint32 tooShort = 8;
    std::memcpy(claimsTooLittle.data(), &tooShort, 4);
    for (const QByteArray &datagram : {claimsTooMuch, claimsTooLittle, good.left(10), good + QByteArray(3, '\0')})
        EXPECT_FALSE(KCRtnetlink::splitDatagram(datagram).has_value()) << datagram.toHex().constData();

    const QByteArray payload = defaultVia("192.168.1.1", 2);
    rtattr overlong{};
    overlong.rta_len = 64;
    overlong.rta_type = RTA_GATEWAY;
    rtattr undersized{};
    undersized.rta_len = 2;
    undersized.rta_type = RTA_OIF;
    EXPECT_FALSE(KCRtnetlink::parseRoute(payload.left(sizeof(rtmsg) - 1)).has_value());
    EXPECT_FALSE(KCRtnetlink::parseRoute(payload + bytesOf(overlong) + ipv4("1.2.3.4")).has_value());
    EXPECT_FALSE(KCRtnetlink::parseRoute(payload + bytesOf(undersized)).has_value());
    EXPECT_FALSE(KCRtnetlink::parseRoute(route({}, attribute(RTA_MULTIPATH, nextHop(2, 0, attribute(RTA_GATEWAY, ipv4("1.2.3.4"))).left(12)))).has_value());
    EXPECT_FALSE(KCRtnetlink::parseLink(link(2, "eth0").left(sizeof(ifinfomsg) - 2)).has_value());
    EXPECT_FALSE(KCRtnetlink::parseNeighbour(QByteArray(sizeof(ndmsg) - 1, '\0')).has_value());
    EXPECT_FALSE(KCRtnetlink::parseError(QByteArray(3, '\0')).has_value());

    // A field of the wrong size is not read at all.
    const auto shortGateway = KCRtnetlink::parseRoute(route({}, attribute(RTA_GATEWAY, ipv4("1.2.3.4").left(3)) + attribute(RTA_OIF, u32(2))));
    ASSERT_TRUE(shortGateway.has_value());
    EXPECT_FALSE(shortGateway->gateway.has_value());
    const auto longName = KCRtnetlink::parseLink(link(2, QByteArray(20, 'x')));
    ASSERT_TRUE(longName.has_value());
    EXPECT_TRUE(longName->name.isEmpty());
}

TEST(KCRtnetlinkMessages, ReadsLinksNeighboursAndErrors)
{
    const auto parsedLink = KCRtnetlink::parseLink(link(3, "wlan0"));
    ASSERT_TRUE(parsedLink.has_value());
    EXPECT_EQ(parsedLink->index, 3);
    EXPECT_EQ(parsedLink->name, QStringLiteral("wlan0"));

    ndmsg header{};
    header.ndm_family = AF_INET;
    header.ndm_ifindex = 2;
    header.ndm_state = NUD_REACHABLE;
    const QByteArray hardware = QByteArray::fromHex("001a2b3c4d5e");
    const auto neighbour = KCRtnetlink::parseNeighbour(bytesOf(header) + attribute(NDA_DST, ipv4("192.168.1.7")) + attribute(NDA_LLADDR, hardware));
    ASSERT_TRUE(neighbour.has_value());
    EXPECT_EQ(neighbour->interfaceIndex, 2);
    EXPECT_EQ(neighbour->state, NUD_REACHABLE);
    EXPECT_EQ(neighbour->destination, ipv4("192.168.1.7"));
    EXPECT_EQ(neighbour->linkLayerAddress, hardware);

    EXPECT_EQ(KCRtnetlink::parseError(bytesOf(-13)), 13);
    EXPECT_EQ(KCRtnetlink::parseError(bytesOf(0)), 0);
}
