#pragma once

#include "KCFakeTimerSource.h"

#include <QByteArray>
#include <QUdpSocket>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// A NAT-PMP/PCP router on 127.0.0.1 for tests: it records what it receives, answers as its
// fields say (or as a test's own answer function says), and sends whatever bytes a test wants.
// Its packets are built here, from the RFCs' layouts, not by the code under test.
class KCScriptedNATRouter {
public:
    struct Received {
        QByteArray data;
        std::chrono::milliseconds at; // on the test's fake clock
        uint16_t fromPort;
    };

    enum class Speaks { Both, NatPmpOnly, PcpOnly, Nothing };

    explicit KCScriptedNATRouter(KCFakeTimerSource &clock);

    uint16_t port() const { return m_socket.localPort(); }
    const std::vector<Received> &received() const { return m_received; }
    // Runs the event loop until `count` requests have arrived, for up to five seconds.
    bool waitForRequests(std::size_t count);
    // Sends to whoever sent the latest request.
    void send(const QByteArray &datagram);
    // Announces to 127.0.0.1:port from the router's own port.
    void announce(uint16_t port, const QByteArray &datagram);

    // What the router does with requests. Answers carry these values.
    Speaks speaks = Speaks::Both;
    uint32_t publicAddress = 0xCB007107;   // 203.0.113.7
    std::optional<uint16_t> grantedPort;   // else the suggested port, else the internal port
    std::optional<uint16_t> grantedUdpPort; // overrides grantedPort for UDP
    std::optional<uint32_t> grantedLease;  // else the requested lease
    uint8_t resultCode = 0;
    uint32_t epochBase = 1000;             // the epoch is this plus the fake clock's seconds
    // When set, decides the answer to each request instead (nothing: stay silent).
    std::function<std::optional<QByteArray>(const QByteArray &request)> answer;

    // The answer this router would give to a request, by the fields above.
    std::optional<QByteArray> answerFor(const QByteArray &request) const;
    uint32_t epoch() const;
    // Starts the epoch again from 0, as a router that restarted.
    void restart();

    // Packet builders for tests that write their own answers.
    static QByteArray pcpMapAnswer(const QByteArray &request, uint8_t result, uint32_t lifetime, uint32_t epochSeconds,
                                   uint16_t externalPort, uint32_t address);
    static QByteArray pcpHeader(uint8_t opcodeWithResponseBit, uint8_t result, uint32_t lifetime, uint32_t epochSeconds);
    static QByteArray natPmpMapAnswer(uint8_t opcode, uint16_t result, uint32_t epochSeconds, uint16_t internalPort,
                                      uint16_t externalPort, uint32_t lifetime);
    static QByteArray natPmpAddressAnswer(uint16_t result, uint32_t epochSeconds, uint32_t address);
    static QByteArray natPmpShortError(uint8_t opcodeWithResponseBit, uint16_t result, uint32_t epochSeconds);

private:
    void read();

    KCFakeTimerSource &m_clock;
    QUdpSocket m_socket;
    std::vector<Received> m_received;
    QHostAddress m_lastSender;
    uint16_t m_lastSenderPort = 0;
};

// Fields of a request the client sent.
namespace KCNATRequestFields {
bool isPcp(const QByteArray &request);
uint8_t natPmpOpcode(const QByteArray &request);
uint32_t lifetime(const QByteArray &request);
uint16_t internalPort(const QByteArray &request);
uint16_t suggestedPort(const QByteArray &request);
uint8_t pcpProtocol(const QByteArray &request);
QByteArray pcpNonce(const QByteArray &request);
QByteArray pcpClientAddress(const QByteArray &request);
} // namespace KCNATRequestFields
