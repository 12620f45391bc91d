#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One address of a network interface, as the interface list gives it.
struct KCInterfaceAddress {
    enum class Family { IPv4, LinkLayer };

    QString name;
    bool up = false;
    bool loopback = false;
    Family family = Family::IPv4;
    quint32 ipv4 = 0; // network byte order, for IPv4 entries
    QByteArray linkLayerAddress; // the hardware address, for link-layer entries (may be empty)
};

// The machine's interface addresses, in the system's order. Safe to use from any thread.
class KCInterfaceList {
public:
    virtual ~KCInterfaceList() = default;
    virtual QList<KCInterfaceAddress> interfaceAddresses() const = 0;
};
