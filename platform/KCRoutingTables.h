#pragma once

#include "KCGlobalIPv4State.h"

#include <QByteArray>
#include <QList>

#include <optional>

// One entry of the IPv4 neighbour (ARP) table.
struct KCNeighbour {
    quint32 address = 0; // IPv4, network byte order
    QByteArray hardwareAddress;
};

// The kernel's IPv4 routing and neighbour tables, read on demand. Safe to use from any thread.
class KCRoutingTables {
public:
    virtual ~KCRoutingTables() = default;

    // The main table's default IPv4 route; none when there is none or the table cannot be read.
    virtual std::optional<KCGlobalIPv4State> defaultIPv4Route() const = 0;

    enum class Error {
        None,
        RequestFailed, // the table could not be asked for
        TooLarge,      // the table is too large to hold
        ReadFailed,    // the table could not be read
    };
    struct Neighbours {
        Error error = Error::None;
        // The usable entries (resolved or being confirmed, with a hardware address), in table order.
        QList<KCNeighbour> entries;
    };
    virtual Neighbours ipv4Neighbours() const = 0;
};
