#pragma once

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

// A UDP socket connected to one peer, read from the event loop. Besides the peer's datagrams it
// reports the peer's ICMP port-unreachable answers: a connected socket learns of them as
// ECONNREFUSED, which QUdpSocket swallows (and then leaves its read notifier off). Addresses are
// IPv4 in host byte order.
class KCConnectedUdpSocket {
public:
    struct Datagram {
        QByteArray data; // at most 2048 bytes; a longer datagram is cut there
        uint32_t sourceAddress = 0;
        uint16_t sourcePort = 0;
    };

    // Either callback may destroy the socket.
    KCConnectedUdpSocket(std::function<void(const Datagram &)> onDatagram, std::function<void()> onRefused);
    ~KCConnectedUdpSocket();
    KCConnectedUdpSocket(const KCConnectedUdpSocket &) = delete;
    KCConnectedUdpSocket &operator=(const KCConnectedUdpSocket &) = delete;

    // Returns 0, or the errno of the step that failed.
    int open(uint32_t peerAddress, uint16_t peerPort);
    bool isOpen() const { return m_fd >= 0; }
    // The address and port the kernel picked for us towards the peer.
    uint32_t localAddress() const { return m_localAddress; }
    uint16_t localPort() const { return m_localPort; }

    // Hands a datagram to the kernel, best effort. A refusal the kernel reports here (from an
    // earlier datagram's ICMP answer) reaches onRefused later, from the event loop.
    void send(const QByteArray &datagram);

private:
    void readPending();

    std::function<void(const Datagram &)> m_onDatagram;
    std::function<void()> m_onRefused;
    int m_fd = -1;
    uint32_t m_localAddress = 0;
    uint16_t m_localPort = 0;
    QSocketNotifier *m_notifier = nullptr;
    // Owns the queued refusal calls, which die with it.
    QObject m_context;
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};
