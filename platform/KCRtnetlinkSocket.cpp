#include "KCRtnetlinkSocket.h"

#include "KCRtnetlinkMessages.h"

#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

namespace {

// No routing datagram comes near this; a larger one is not from a well-behaved kernel.
constexpr qsizetype maxDatagram = 1 << 20;
constexpr int dumpAttempts = 3;

qsizetype requestHeaderSize(quint16 requestType)
{
    switch (requestType) {
    case RTM_GETLINK:
        return sizeof(ifinfomsg);
    case RTM_GETNEIGH:
        return sizeof(ndmsg);
    default:
        return sizeof(rtmsg);
    }
}

} // namespace

int KCRtnetlinkSocket::openInCurrentNamespace()
{
    return ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
}

std::optional<KCRtnetlinkSocket> KCRtnetlinkSocket::open(const Opener &opener, quint32 groups)
{
    const int fd = opener();
    if (fd < 0)
        return std::nullopt;
    KCRtnetlinkSocket socket(fd);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
        return std::nullopt;
    if (groups != 0) {
        // A burst of events (an interface going away takes its addresses and routes with it)
        // should fit without the kernel dropping any.
        const int size = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    } else {
        // The kernel answers dumps at once; the limit only keeps a broken kernel from hanging us.
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    return socket;
}

KCRtnetlinkSocket::KCRtnetlinkSocket(int fd)
    : m_fd(fd)
{
}

KCRtnetlinkSocket::KCRtnetlinkSocket(KCRtnetlinkSocket &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_sequence(other.m_sequence)
{
}

KCRtnetlinkSocket &KCRtnetlinkSocket::operator=(KCRtnetlinkSocket &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_sequence = other.m_sequence;
    }
    return *this;
}

KCRtnetlinkSocket::~KCRtnetlinkSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

KCRtnetlinkSocket::Dump KCRtnetlinkSocket::dump(quint16 requestType, quint8 family, qsizetype maxBytes)
{
    Dump result;
    for (int attempt = 0; attempt < dumpAttempts; ++attempt) {
        bool interrupted = false;
        result = dumpOnce(requestType, family, maxBytes, interrupted);
        if (!interrupted)
            break;
    }
    return result;
}

KCRtnetlinkSocket::Dump KCRtnetlinkSocket::dumpOnce(quint16 requestType, quint8 family, qsizetype maxBytes, bool &interrupted)
{
    Dump result;
    const quint32 sequence = ++m_sequence;
    QByteArray request(qsizetype(NLMSG_LENGTH(requestHeaderSize(requestType))), '\0');
    nlmsghdr header{};
    header.nlmsg_len = quint32(request.size());
    header.nlmsg_type = requestType;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header.nlmsg_seq = sequence;
    std::memcpy(request.data(), &header, sizeof header);
    // rtmsg, ifinfomsg and ndmsg all begin with the address family.
    request[NLMSG_HDRLEN] = char(family);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd, request.constData(), size_t(request.size()), 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel)
        != request.size()) {
        result.error = DumpError::Request;
        return result;
    }

    qsizetype total = 0;
    for (;;) {
        QByteArray datagram;
        if (receive(datagram, 0) < 0) {
            result.error = DumpError::Receive;
            return result;
        }
        total += datagram.size();
        if (total > maxBytes) {
            result.error = DumpError::TooLarge;
            return result;
        }
        const auto messages = KCRtnetlink::splitDatagram(datagram);
        if (!messages) {
            result.error = DumpError::Receive;
            return result;
        }
        for (const KCRtnetlink::Message &message : *messages) {
            if (message.sequence != sequence)
                continue; // a late reply to an earlier request
            if (message.flags & NLM_F_DUMP_INTR)
                interrupted = true;
            if (message.type == NLMSG_DONE)
                return result;
            if (message.type == NLMSG_ERROR) {
                const auto error = KCRtnetlink::parseError(message.payload);
                if (!error || *error != 0) {
                    result.error = DumpError::Receive;
                    return result;
                }
                continue;
            }
            result.messages.append({message.type, message.payload.toByteArray()});
        }
    }
}

KCRtnetlinkSocket::ReadStatus KCRtnetlinkSocket::readPending(QByteArray &datagram)
{
    for (;;) {
        if (receive(datagram, MSG_DONTWAIT) >= 0)
            return ReadStatus::Datagram;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ReadStatus::NothingPending;
        if (errno == ENOBUFS)
            return ReadStatus::Overflow;
        return ReadStatus::Failed;
    }
}

qsizetype KCRtnetlinkSocket::receive(QByteArray &datagram, int flags)
{
    for (;;) {
        // Learn the datagram's size first so nothing is ever cut off.
        char probe;
        iovec probeVector{&probe, 1};
        msghdr probeHeader{};
        probeHeader.msg_iov = &probeVector;
        probeHeader.msg_iovlen = 1;
        const ssize_t size = ::recvmsg(m_fd, &probeHeader, flags | MSG_PEEK | MSG_TRUNC);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (size > maxDatagram) {
            ::recv(m_fd, &probe, 1, MSG_DONTWAIT);
            errno = EMSGSIZE;
            return -1;
        }
        datagram.resize(qsizetype(size));
        sockaddr_nl sender{};
        iovec vector{datagram.data(), size_t(size)};
        msghdr header{};
        header.msg_name = &sender;
        header.msg_namelen = sizeof sender;
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(m_fd, &header, flags);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        datagram.resize(qsizetype(received));
        // Other processes may send to our port; only the kernel (port 0) is believed.
        if (header.msg_namelen != sizeof sender || sender.nl_pid != 0 || (header.msg_flags & MSG_TRUNC))
            continue;
        return qsizetype(received);
    }
}
