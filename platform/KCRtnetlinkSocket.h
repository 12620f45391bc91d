#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

// A routing-netlink socket: table dumps on request, and the kernel's change events for the
// groups it was bound to. Everything read is checked to come from the kernel.
class KCRtnetlinkSocket {
public:
    // Makes an unbound routing-netlink socket, or returns -1 with errno set. A socket belongs to
    // the network namespace it was made in, so tests hand in one made inside their own.
    using Opener = std::function<int()>;
    static int openInCurrentNamespace();

    // A socket bound to the given multicast groups (0 for a socket that only dumps); none, with
    // errno set, when it cannot be made.
    static std::optional<KCRtnetlinkSocket> open(const Opener &opener, quint32 groups);

    KCRtnetlinkSocket(KCRtnetlinkSocket &&other) noexcept;
    KCRtnetlinkSocket &operator=(KCRtnetlinkSocket &&other) noexcept;
    KCRtnetlinkSocket(const KCRtnetlinkSocket &) = delete;
    KCRtnetlinkSocket &operator=(const KCRtnetlinkSocket &) = delete;
    ~KCRtnetlinkSocket();

    int descriptor() const { return m_fd; }

    enum class DumpError {
        None,
        Request,  // the request could not be sent
        TooLarge, // the table is larger than the caller accepts
        Receive,  // the reply could not be read, was malformed or reported an error
    };
    struct Reply {
        quint16 type = 0;
        QByteArray payload;
    };
    struct Dump {
        DumpError error = DumpError::None;
        QList<Reply> messages;
    };
    // Asks for a whole table (RTM_GETROUTE, RTM_GETLINK or RTM_GETNEIGH) of one address family
    // and waits for all of it. A dump the kernel marks as interrupted by a concurrent change is
    // asked for again.
    Dump dump(quint16 requestType, quint8 family, qsizetype maxBytes);

    enum class ReadStatus {
        Datagram,       // one datagram from the kernel was read
        NothingPending, // nothing more to read now
        Overflow,       // the kernel dropped events: the receiver must assume anything changed
        Failed,
    };
    // Reads one pending datagram without waiting.
    ReadStatus readPending(QByteArray &datagram);

private:
    explicit KCRtnetlinkSocket(int fd);
    Dump dumpOnce(quint16 requestType, quint8 family, qsizetype maxBytes, bool &interrupted);
    // Receives one datagram, refusing any not sent by the kernel; -1 with errno on failure.
    qsizetype receive(QByteArray &datagram, int flags);

    int m_fd = -1;
    quint32 m_sequence = 0;
};
