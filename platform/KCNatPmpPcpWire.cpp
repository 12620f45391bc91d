#include "KCNatPmpPcpWire.h"

#include <QtEndian>
#include <cstring>

namespace KCNatPmpPcpWire {
namespace {

constexpr uint8_t ResponseBit = 0x80;
constexpr int NatPmpHeaderSize = 8;
constexpr int NatPmpAddressReplySize = 12;
constexpr int NatPmpMapReplySize = 16;
constexpr int PcpHeaderSize = 24;
constexpr int PcpMapSize = PcpHeaderSize + 36;

void putU16(QByteArray &packet, int at, uint16_t value)
{
    qToBigEndian(value, packet.data() + at);
}

void putU32(QByteArray &packet, int at, uint32_t value)
{
    qToBigEndian(value, packet.data() + at);
}

// PCP carries IPv4 addresses as IPv4-mapped IPv6 addresses (::ffff:a.b.c.d).
void putMappedIPv4(QByteArray &packet, int at, uint32_t address)
{
    std::memset(packet.data() + at, 0, 10);
    packet[at + 10] = char(0xff);
    packet[at + 11] = char(0xff);
    putU32(packet, at + 12, address);
}

uint16_t u16(const QByteArray &data, int at)
{
    return qFromBigEndian<uint16_t>(data.constData() + at);
}

uint32_t u32(const QByteArray &data, int at)
{
    return qFromBigEndian<uint32_t>(data.constData() + at);
}

bool isMappedIPv4(const QByteArray &data, int at)
{
    for (int i = 0; i < 10; ++i)
        if (data[at + i] != 0)
            return false;
    return uint8_t(data[at + 10]) == 0xff && uint8_t(data[at + 11]) == 0xff;
}

std::optional<Response> fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

// Every option is a four-byte header and its data padded to four bytes; they must fill the rest
// of the message exactly.
bool pcpOptionsWellFormed(const QByteArray &data, int from)
{
    int at = from;
    while (at < data.size()) {
        if (data.size() - at < 4)
            return false;
        const int length = u16(data, at + 2);
        const int padded = (length + 3) & ~3;
        if (data.size() - at - 4 < padded)
            return false;
        at += 4 + padded;
    }
    return true;
}

std::optional<Response> parseNatPmp(const QByteArray &data, QString *why)
{
    if (data.size() < NatPmpHeaderSize)
        return fail(why, QStringLiteral("%1 bytes is too short for NAT-PMP").arg(data.size()));
    const uint8_t op = uint8_t(data[1]);
    if (!(op & ResponseBit))
        return fail(why, QStringLiteral("a NAT-PMP request, not a reply"));
    Response r;
    r.version = NatPmpVersion;
    r.opcode = op & ~ResponseBit;
    r.resultCode = u16(data, 2);
    r.epoch = u32(data, 4);
    // Error replies may stop after the epoch; anything else has exactly the size of its opcode.
    const bool headerOnlyError = data.size() == NatPmpHeaderSize && r.resultCode != 0;
    switch (r.opcode) {
    case NatPmpOpAddress:
        if (data.size() == NatPmpAddressReplySize) {
            r.hasAddress = true;
            r.externalAddress = u32(data, 8);
        } else if (!headerOnlyError) {
            return fail(why, QStringLiteral("%1 bytes is the wrong size for a NAT-PMP address reply").arg(data.size()));
        }
        return r;
    case NatPmpOpMapUDP:
    case NatPmpOpMapTCP:
        if (data.size() == NatPmpMapReplySize) {
            r.hasMapping = true;
            r.internalPort = u16(data, 8);
            r.externalPort = u16(data, 10);
            r.lifetime = u32(data, 12);
        } else if (!headerOnlyError) {
            return fail(why, QStringLiteral("%1 bytes is the wrong size for a NAT-PMP mapping reply").arg(data.size()));
        }
        return r;
    default:
        return fail(why, QStringLiteral("unknown NAT-PMP opcode %1").arg(op));
    }
}

std::optional<Response> parsePcp(const QByteArray &data, QString *why)
{
    if (data.size() < PcpHeaderSize)
        return fail(why, QStringLiteral("%1 bytes is too short for PCP").arg(data.size()));
    if (data.size() > PcpMaxSize)
        return fail(why, QStringLiteral("%1 bytes is too long for PCP").arg(data.size()));
    if (data.size() % 4 != 0)
        return fail(why, QStringLiteral("%1 bytes is not a whole number of PCP words").arg(data.size()));
    const uint8_t op = uint8_t(data[1]);
    if (!(op & ResponseBit))
        return fail(why, QStringLiteral("a PCP request, not a reply"));
    Response r;
    r.version = uint8_t(data[0]);
    r.opcode = op & ~ResponseBit;
    r.resultCode = uint8_t(data[3]);
    r.lifetime = u32(data, 4);
    r.epoch = u32(data, 8);
    // Version 1 was a draft whose body differs; its header is enough to learn that a router does
    // not speak version 2.
    if (r.version != PcpVersion)
        return r;
    int optionsFrom = PcpHeaderSize;
    switch (r.opcode) {
    case PcpOpAnnounce:
        break;
    case PcpOpMap:
        if (data.size() >= PcpMapSize) {
            r.hasMapping = true;
            std::memcpy(r.nonce.data(), data.constData() + 24, r.nonce.size());
            r.ianaProtocol = uint8_t(data[36]);
            r.internalPort = u16(data, 40);
            r.externalPort = u16(data, 42);
            r.hasAddress = true;
            r.externalAddress = isMappedIPv4(data, 44) ? u32(data, 56) : 0;
            optionsFrom = PcpMapSize;
        } else if (r.resultCode == 0) {
            return fail(why, QStringLiteral("%1 bytes is too short for a PCP MAP reply").arg(data.size()));
        }
        break;
    default:
        return fail(why, QStringLiteral("unknown PCP opcode %1").arg(r.opcode));
    }
    if (!pcpOptionsWellFormed(data, optionsFrom))
        return fail(why, QStringLiteral("malformed PCP options"));
    return r;
}

} // namespace

QByteArray natPmpAddressRequest()
{
    QByteArray packet(2, '\0');
    packet[0] = char(NatPmpVersion);
    packet[1] = char(NatPmpOpAddress);
    return packet;
}

QByteArray natPmpMapRequest(uint8_t opcode, uint16_t internalPort, uint16_t suggestedExternalPort, uint32_t lifetime)
{
    QByteArray packet(12, '\0');
    packet[0] = char(NatPmpVersion);
    packet[1] = char(opcode);
    putU16(packet, 4, internalPort);
    putU16(packet, 6, lifetime == 0 ? 0 : suggestedExternalPort);
    putU32(packet, 8, lifetime);
    return packet;
}

QByteArray pcpMapRequest(const PcpMapRequest &request)
{
    QByteArray packet(PcpMapSize, '\0');
    packet[0] = char(PcpVersion);
    packet[1] = char(PcpOpMap);
    putU32(packet, 4, request.lifetime);
    putMappedIPv4(packet, 8, request.clientAddress);
    std::memcpy(packet.data() + 24, request.nonce.data(), request.nonce.size());
    packet[36] = char(request.ianaProtocol);
    putU16(packet, 40, request.internalPort);
    putU16(packet, 42, request.suggestedExternalPort);
    putMappedIPv4(packet, 44, request.suggestedExternalAddress);
    return packet;
}

std::optional<Response> parseResponse(const QByteArray &datagram, QString *why)
{
    if (datagram.size() < 4)
        return fail(why, QStringLiteral("%1 bytes is too short").arg(datagram.size()));
    switch (uint8_t(datagram[0])) {
    case NatPmpVersion:
        return parseNatPmp(datagram, why);
    case 1:
    case PcpVersion:
        return parsePcp(datagram, why);
    default:
        return fail(why, QStringLiteral("unknown version %1").arg(uint8_t(datagram[0])));
    }
}

} // namespace KCNatPmpPcpWire
