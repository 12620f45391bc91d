#include "KCConnectedUdpSocket.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int ReceiveBufferSize = 2048;
// A flood must not starve the event loop: the notifier fires again for whatever is left.
constexpr int DatagramsPerWakeUp = 64;
} // namespace

KCConnectedUdpSocket::KCConnectedUdpSocket(std::function<void(const Datagram &)> onDatagram,
                                           std::function<void()> onRefused)
    : m_onDatagram(std::move(onDatagram))
    , m_onRefused(std::move(onRefused))
{
}

KCConnectedUdpSocket::~KCConnectedUdpSocket()
{
    if (m_notifier) {
        // We may be inside the notifier's own signal.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    if (m_fd >= 0)
        ::close(m_fd);
}

int KCConnectedUdpSocket::open(uint32_t peerAddress, uint16_t peerPort)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(peerPort);
    peer.sin_addr.s_addr = htonl(peerAddress);
    sockaddr_in local{};
    socklen_t localLength = sizeof(local);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof(peer)) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLength) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    m_fd = fd;
    m_localAddress = ntohl(local.sin_addr.s_addr);
    m_localPort = ntohs(local.sin_port);
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { readPending(); });
    return 0;
}

void KCConnectedUdpSocket::send(const QByteArray &datagram)
{
    if (m_fd < 0)
        return;
    ssize_t sent;
    do {
        sent = ::send(m_fd, datagram.constData(), size_t(datagram.size()), 0);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && errno == ECONNREFUSED)
        QMetaObject::invokeMethod(&m_context, [this] { m_onRefused(); }, Qt::QueuedConnection);
}

void KCConnectedUdpSocket::readPending()
{
    const std::weak_ptr<char> alive = m_alive;
    char buffer[ReceiveBufferSize];
    for (int i = 0; i < DatagramsPerWakeUp; ++i) {
        sockaddr_in source{};
        socklen_t sourceLength = sizeof(source);
        const ssize_t n = ::recvfrom(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&source),
                                     &sourceLength);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ECONNREFUSED) {
                m_onRefused();
                if (alive.expired())
                    return;
                continue;
            }
            // EAGAIN: all read. Other ICMP errors (host or network unreachable) are consumed
            // here and left to the caller's time-out.
            return;
        }
        Datagram datagram;
        datagram.data = QByteArray(buffer, int(n));
        datagram.sourceAddress = ntohl(source.sin_addr.s_addr);
        datagram.sourcePort = ntohs(source.sin_port);
        m_onDatagram(datagram);
        if (alive.expired())
            return;
    }
}
