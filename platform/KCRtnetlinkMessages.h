#pragma once

#include "KCGlobalIPv4State.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Parsing of the routing-netlink messages the kernel sends: routes, links and neighbours. Every
// length is checked against the bytes that are really there before anything is read.
namespace KCRtnetlink {

struct Message {
    quint16 type = 0;
    quint16 flags = 0;
    quint32 sequence = 0;
    quint32 portId = 0;
    QByteArrayView payload; // points into the datagram it came from
};

// Splits a datagram into its messages; none when a header is short or claims more bytes than
// the datagram holds.
std::optional<QList<Message>> splitDatagram(QByteArrayView datagram);

struct Route {
    quint8 family = 0;
    quint8 destinationLength = 0;
    quint8 type = 0;
    quint32 table = 0;
    quint32 flags = 0;
    std::optional<quint32> gateway; // IPv4 address in network byte order
    int outputInterface = 0;
    quint32 priority = 0;
};
std::optional<Route> parseRoute(QByteArrayView payload);

struct Link {
    int index = 0;
    QString name;
};
std::optional<Link> parseLink(QByteArrayView payload);

struct Neighbour {
    quint8 family = 0;
    int interfaceIndex = 0;
    quint16 state = 0;
    QByteArray destination;
    QByteArray linkLayerAddress;
};
std::optional<Neighbour> parseNeighbour(QByteArrayView payload);

// The error number of an error message, negated to a positive errno; 0 is an acknowledgement.
std::optional<int> parseError(QByteArrayView payload);

// The route the machine sends IPv4 traffic to the Internet by: among the main table's usable
// unicast default routes the one with the lowest metric (the first of equals), named after its
// interface.
std::optional<KCGlobalIPv4State> selectDefaultRoute(const QList<Route> &routes, const QList<Link> &links);

// Dotted text of an IPv4 address in network byte order.
QString ipv4Text(quint32 networkOrder);

} // namespace KCRtnetlink
