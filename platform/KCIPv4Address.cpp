#include "KCIPv4Address.h"

#include <QByteArray>
#include <arpa/inet.h>

namespace KCIPv4Address {
namespace {

struct Octets {
    unsigned a, b;
};

Octets leading(uint32_t address)
{
    const uint32_t host = ntohl(address);
    return {host >> 24, (host >> 16) & 0xffu};
}

} // namespace

std::optional<uint32_t> parse(QByteArrayView text)
{
    const QByteArray trimmed = text.toByteArray().trimmed();
    in_addr address {};
    // inet_pton accepts exactly four decimal parts, unlike inet_aton's shortened and octal forms.
    if (trimmed.isEmpty() || trimmed.contains('\0') || inet_pton(AF_INET, trimmed.constData(), &address) != 1)
        return std::nullopt;
    return address.s_addr;
}

QString toString(uint32_t address)
{
    in_addr value {};
    value.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return QString::fromLatin1(text);
}

bool isPrivate(uint32_t address)
{
    const auto [a, b] = leading(address);
    return a == 0 || a == 10 || a == 127 || a >= 224 || (a == 100 && b >= 64 && b <= 127) || (a == 169 && b == 254)
        || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168) || (a == 198 && (b == 18 || b == 19));
}

bool isLoopback(uint32_t address)
{
    return leading(address).a == 127;
}

bool isUnspecified(uint32_t address)
{
    // All of 0/8: Linux takes a connection to 0.0.0.0 as one to this machine.
    return leading(address).a == 0;
}

bool isLinkLocal(uint32_t address)
{
    const auto [a, b] = leading(address);
    return a == 169 && b == 254;
}

bool isMulticast(uint32_t address)
{
    const unsigned a = leading(address).a;
    return a >= 224 && a <= 239;
}

} // namespace KCIPv4Address
