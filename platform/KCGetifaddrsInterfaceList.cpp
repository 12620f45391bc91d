#include "KCGetifaddrsInterfaceList.h"

#include <QFile>

#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

QList<KCInterfaceAddress> KCGetifaddrsInterfaceList::interfaceAddresses() const
{
    QList<KCInterfaceAddress> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_name)
            continue;
        KCInterfaceAddress address;
        // An address with a label ("eth0:1") is listed under the label; interface names cannot
        // contain ":", so what comes before it is the interface.
        address.name = QFile::decodeName(entry->ifa_name).section(QLatin1Char(':'), 0, 0);
        address.up = entry->ifa_flags & IFF_UP;
        address.loopback = entry->ifa_flags & IFF_LOOPBACK;
        if (entry->ifa_addr->sa_family == AF_INET) {
            sockaddr_in ipv4;
            std::memcpy(&ipv4, entry->ifa_addr, sizeof ipv4);
            address.family = KCInterfaceAddress::Family::IPv4;
            address.ipv4 = ipv4.sin_addr.s_addr;
        } else if (entry->ifa_addr->sa_family == AF_PACKET) {
            sockaddr_ll link;
            std::memcpy(&link, entry->ifa_addr, sizeof link);
            address.family = KCInterfaceAddress::Family::LinkLayer;
            address.linkLayerAddress = QByteArray(reinterpret_cast<const char *>(link.sll_addr),
                                                  std::min<int>(link.sll_halen, sizeof link.sll_addr));
        } else {
            continue;
        }
        addresses.append(address);
    }
    ::freeifaddrs(list);
    return addresses;
}
