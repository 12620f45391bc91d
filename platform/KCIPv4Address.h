#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// IPv4 addresses as the port-mapping code keeps them: 32 bits in network byte order, the form
// the mapper reports and the socket calls take.
namespace KCIPv4Address {

// Strict dotted-quad text ("192.168.1.1"), surrounding ASCII white space allowed; anything else
// (shortened forms, octal, host names, trailing text) is refused.
std::optional<uint32_t> parse(QByteArrayView text);
QString toString(uint32_t address);

// Not usable as a public address: 0/8, 10/8, 127/8, 224/3 and above, the shared range 100.64/10,
// 169.254/16, 172.16/12, 192.168/16 and the benchmarking range 198.18/15. A router reporting one
// of these as its public address sits behind another NAT.
bool isPrivate(uint32_t address);

// Addresses a root daemon must never be steered to fetch from on a router's say-so.
bool isLoopback(uint32_t address);
bool isUnspecified(uint32_t address);
bool isLinkLocal(uint32_t address);
bool isMulticast(uint32_t address);

} // namespace KCIPv4Address
