#include "KCScriptedNATRouter.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QtEndian>

namespace {

void put16(QByteArray &b, int at, uint16_t v)
{
    qToBigEndian(v, b.data() + at);
}

void put32(QByteArray &b, int at, uint32_t v)
{
    qToBigEndian(v, b.data() + at);
}

uint16_t get16(const QByteArray &b, int at)
{
    return qFromBigEndian<uint16_t>(b.constData() + at);
}

uint32_t get32(const QByteArray &b, int at)
{
    return qFromBigEndian<uint32_t>(b.constData() + at);
}

} // namespace

KCScriptedNATRouter::KCScriptedNATRouter(KCFakeTimerSource &clock)
    : m_clock(clock)
{
    m_socket.bind(QHostAddress::LocalHost, 0);
    QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] { read(); });
}

bool KCScriptedNATRouter::waitForRequests(std::size_t count)
{
    return QTest::qWaitFor([&] { return m_received.size() >= count; }, 5000);
}

void KCScriptedNATRouter::send(const QByteArray &datagram)
{
    m_socket.writeDatagram(datagram, m_lastSender, m_lastSenderPort);
}

void KCScriptedNATRouter::announce(uint16_t port, const QByteArray &datagram)
{
    m_socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
}

uint32_t KCScriptedNATRouter::epoch() const
{
    return epochBase + uint32_t(m_clock.now().count() / 1000);
}

void KCScriptedNATRouter::restart()
{
    epochBase = 0u - uint32_t(m_clock.now().count() / 1000);
}

void KCScriptedNATRouter::read()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        m_lastSender = datagram.senderAddress();
        m_lastSenderPort = uint16_t(datagram.senderPort());
        m_received.push_back({datagram.data(), m_clock.now(), m_lastSenderPort});
        const std::optional<QByteArray> reply = answer ? answer(datagram.data()) : answerFor(datagram.data());
        if (reply)
            send(*reply);
    }
}

std::optional<QByteArray> KCScriptedNATRouter::answerFor(const QByteArray &request) const
{
    using namespace KCNATRequestFields;
    if (speaks == Speaks::Nothing || request.size() < 2)
        return std::nullopt;
    if (isPcp(request)) {
        if (speaks == Speaks::NatPmpOnly)
            return natPmpShortError(0x81, 1, epoch());
        const uint32_t requested = KCNATRequestFields::lifetime(request);
        const uint32_t granted = requested == 0 ? 0 : grantedLease.value_or(requested);
        const bool udp = pcpProtocol(request) == 17;
        const uint16_t suggested = suggestedPort(request) ? suggestedPort(request) : internalPort(request);
        const uint16_t port = udp && grantedUdpPort ? *grantedUdpPort : grantedPort.value_or(suggested);
        return pcpMapAnswer(request, resultCode, granted, epoch(), port, publicAddress);
    }
    if (speaks == Speaks::PcpOnly)
        return pcpHeader(uint8_t(0x80 | natPmpOpcode(request)), 1, 0, epoch());
    const uint8_t op = natPmpOpcode(request);
    if (op == 0)
        return natPmpAddressAnswer(resultCode, epoch(), publicAddress);
    const uint32_t requested = KCNATRequestFields::lifetime(request);
    const uint32_t granted = requested == 0 ? 0 : grantedLease.value_or(requested);
    const uint16_t suggested = suggestedPort(request) ? suggestedPort(request) : internalPort(request);
    const uint16_t port = requested == 0 ? 0 : (op == 1 && grantedUdpPort ? *grantedUdpPort : grantedPort.value_or(suggested));
    return natPmpMapAnswer(op, resultCode, epoch(), internalPort(request), port, granted);
}

QByteArray KCScriptedNATRouter::pcpHeader(uint8_t opcodeWithResponseBit, uint8_t result, uint32_t lifetime, uint32_t epochSeconds)
{
    QByteArray b(24, '\0');
    b[0] = 2;
    b[1] = char(opcodeWithResponseBit);
    b[3] = char(result);
    put32(b, 4, lifetime);
    put32(b, 8, epochSeconds);
    return b;
}

QByteArray KCScriptedNATRouter::pcpMapAnswer(const QByteArray &request, uint8_t result, uint32_t lifetime,
                                             uint32_t epochSeconds, uint16_t externalPort, uint32_t address)
{
    QByteArray b = pcpHeader(0x81, result, lifetime, epochSeconds);
    b += request.mid(24, 12); // nonce
    b += QByteArray(24, '\0');
    b[36] = request[36];      // protocol
    put16(b, 40, get16(request, 40));
    put16(b, 42, externalPort);
    b[54] = char(0xff);
    b[55] = char(0xff);
    put32(b, 56, address);
    return b;
}

QByteArray KCScriptedNATRouter::natPmpMapAnswer(uint8_t opcode, uint16_t result, uint32_t epochSeconds,
                                                uint16_t internalPort, uint16_t externalPort, uint32_t lifetime)
{
    QByteArray b(16, '\0');
    b[1] = char(128 + opcode);
    put16(b, 2, result);
    put32(b, 4, epochSeconds);
    put16(b, 8, internalPort);
    put16(b, 10, externalPort);
    put32(b, 12, lifetime);
    return b;
}

QByteArray KCScriptedNATRouter::natPmpAddressAnswer(uint16_t result, uint32_t epochSeconds, uint32_t address)
{
    QByteArray b(12, '\0');
    b[1] = char(128);
    put16(b, 2, result);
    put32(b, 4, epochSeconds);
    put32(b, 8, address);
    return b;
}

QByteArray KCScriptedNATRouter::natPmpShortError(uint8_t opcodeWithResponseBit, uint16_t result, uint32_t epochSeconds)
{
    QByteArray b(8, '\0');
    b[1] = char(opcodeWithResponseBit);
    put16(b, 2, result);
    put32(b, 4, epochSeconds);
    return b;
}

namespace KCNATRequestFields {

bool isPcp(const QByteArray &request)
{
    return request.size() >= 1 && request[0] == 2;
}

uint8_t natPmpOpcode(const QByteArray &request)
{
    return uint8_t(request[1]);
}

uint32_t lifetime(const QByteArray &request)
{
    return isPcp(request) ? get32(request, 4) : (request.size() >= 12 ? get32(request, 8) : 0);
}

uint16_t internalPort(const QByteArray &request)
{
    return isPcp(request) ? get16(request, 40) : get16(request, 4);
}

uint16_t suggestedPort(const QByteArray &request)
{
    return isPcp(request) ? get16(request, 42) : get16(request, 6);
}

uint8_t pcpProtocol(const QByteArray &request)
{
    return uint8_t(request[36]);
}

QByteArray pcpNonce(const QByteArray &request)
{
    return request.mid(24, 12);
}

QByteArray pcpClientAddress(const QByteArray &request)
{
    return request.mid(8, 16);
}

} // namespace KCNATRequestFields
