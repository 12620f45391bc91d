#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The packets of the two router port-mapping protocols: NAT-PMP (RFC 6886, version 0) and PCP
// (RFC 6887, version 2). Building requests and taking replies apart, nothing more: which reply
// belongs to which request is the request's business. Addresses are IPv4 in host byte order.
namespace KCNatPmpPcpWire {

constexpr uint8_t NatPmpVersion = 0;
constexpr uint8_t PcpVersion = 2;

constexpr uint8_t NatPmpOpAddress = 0;
constexpr uint8_t NatPmpOpMapUDP = 1;
constexpr uint8_t NatPmpOpMapTCP = 2;
constexpr uint8_t PcpOpAnnounce = 0;
constexpr uint8_t PcpOpMap = 1;

// Result code 1 means "unsupported version" in both protocols.
constexpr uint16_t ResultUnsupportedVersion = 1;

constexpr uint8_t IanaTCP = 6;
constexpr uint8_t IanaUDP = 17;

// No PCP message is larger; a bigger datagram is not PCP.
constexpr int PcpMaxSize = 1100;

using Nonce = std::array<uint8_t, 12>;

struct PcpMapRequest {
    uint8_t ianaProtocol = IanaTCP;
    uint16_t internalPort = 0;
    uint16_t suggestedExternalPort = 0;
    uint32_t suggestedExternalAddress = 0; // 0: no preference, any IPv4 address
    uint32_t lifetime = 0;                 // 0 deletes the mapping
    uint32_t clientAddress = 0;            // this machine's address as the router sees it
    Nonce nonce{};
};

QByteArray natPmpAddressRequest();
// A lifetime of 0 deletes the mapping; the suggested port is then sent as 0, as deletion requires.
QByteArray natPmpMapRequest(uint8_t opcode, uint16_t internalPort, uint16_t suggestedExternalPort, uint32_t lifetime);
QByteArray pcpMapRequest(const PcpMapRequest &request);

// A reply of either protocol whose layout holds together. Fields a reply does not carry stay 0.
struct Response {
    uint8_t version = 0;
    uint8_t opcode = 0; // without the response bit
    uint16_t resultCode = 0;
    uint32_t epoch = 0;    // the router's seconds since it last lost its mapping state
    uint32_t lifetime = 0; // granted lease in seconds

    // Mapping fields: NAT-PMP mapping replies of full length and PCP MAP replies.
    bool hasMapping = false;
    uint8_t ianaProtocol = 0; // PCP only
    Nonce nonce{};            // PCP only
    uint16_t internalPort = 0;
    uint16_t externalPort = 0;

    // Public address: NAT-PMP address replies of full length and PCP MAP replies. A PCP router
    // that hands out a non-IPv4 address leaves it 0.
    bool hasAddress = false;
    uint32_t externalAddress = 0;
};

// Checks the layout of a datagram from the router: its size for its version and opcode, the
// response bit, and the framing of PCP options. On failure returns nothing and says why.
std::optional<Response> parseResponse(const QByteArray &datagram, QString *why);

} // namespace KCNatPmpPcpWire
