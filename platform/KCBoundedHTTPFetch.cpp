#include "KCBoundedHTTPFetch.h"

#include "KCIPv4Address.h"
#include "KCUPnPURL.h"

#include <QList>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace KCBoundedHTTPFetch {
namespace {

using Clock = std::chrono::steady_clock;

class Socket {
public:
    Socket() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Waits until the socket is ready for the events or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry {fd, events, 0};
        const int ready = ::poll(&entry, 1, int(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool connectTo(int fd, const KCUPnPURL &url, Clock::time_point deadline)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(url.port);
    address.sin_addr.s_addr = url.host;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS || !waitFor(fd, POLLOUT, deadline))
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool sendAll(int fd, QByteArrayView data, Clock::time_point deadline)
{
    while (!data.isEmpty()) {
        const ssize_t sent = ::send(fd, data.data(), size_t(data.size()), MSG_NOSIGNAL);
        if (sent > 0) {
            data = data.sliced(sent);
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!waitFor(fd, POLLOUT, deadline)) {
            return false;
        }
    }
    return true;
}

struct Head {
    qsizetype bodyOffset = 0;
    std::optional<qsizetype> contentLength;
    bool chunked = false;
};

enum class HeadResult { Complete, Incomplete, Refused };

HeadResult parseHead(QByteArrayView received, const Limits &limits, Head &head)
{
    const qsizetype end = received.indexOf(QByteArrayView("\r\n\r\n"));
    if (end < 0)
        return received.size() > limits.maximumHeaderSize ? HeadResult::Refused : HeadResult::Incomplete;
    if (end > limits.maximumHeaderSize)
        return HeadResult::Refused;
    const QList<QByteArray> lines = received.first(end).toByteArray().split('\n');
    const QList<QByteArray> status = lines.first().trimmed().split(' ');
    if (status.size() < 2 || !status[0].startsWith("HTTP/1.") || status[1] != "200")
        return HeadResult::Refused;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return HeadResult::Refused;
        const QByteArray name = line.first(colon).trimmed().toLower();
        const QByteArray value = line.sliced(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qlonglong length = value.toLongLong(&ok);
            if (!ok || length < 0 || value.startsWith('+') || (head.contentLength && *head.contentLength != length))
                return HeadResult::Refused;
            if (length > limits.maximumBodySize)
                return HeadResult::Refused;
            head.contentLength = qsizetype(length);
        } else if (name == "transfer-encoding") {
            if (value.toLower() != "chunked")
                return HeadResult::Refused;
            head.chunked = true;
        }
    }
    head.bodyOffset = end + 4;
    return HeadResult::Complete;
}

std::optional<qsizetype> parseChunkSize(QByteArrayView line)
{
    const qsizetype extension = line.indexOf(';');
    const QByteArray digits = (extension < 0 ? line : line.first(extension)).toByteArray().trimmed();
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    bool ok = false;
    const qsizetype size = qsizetype(digits.toUInt(&ok, 16));
    return ok ? std::optional<qsizetype>(size) : std::nullopt;
}

} // namespace

ChunkedResult decodeChunked(QByteArrayView body, qsizetype maximumSize, QByteArray &out)
{
    out.clear();
    qsizetype position = 0;
    for (;;) {
        const qsizetype lineEnd = body.indexOf(QByteArrayView("\r\n"), position);
        if (lineEnd < 0)
            return body.size() - position > 1024 ? ChunkedResult::Invalid : ChunkedResult::Incomplete;
        const std::optional<qsizetype> size = parseChunkSize(body.sliced(position, lineEnd - position));
        if (!size || *size > maximumSize - out.size())
            return ChunkedResult::Invalid;
        position = lineEnd + 2;
        if (*size == 0)
            return ChunkedResult::Complete; // trailers, if any, are not needed
        if (body.size() - position < *size + 2)
            return ChunkedResult::Incomplete;
        if (body.sliced(position + *size, 2) != QByteArrayView("\r\n"))
            return ChunkedResult::Invalid;
        out.append(body.sliced(position, *size));
        position += *size + 2;
    }
}

std::optional<QByteArray> get(QByteArrayView urlText, const Limits &limits)
{
    const std::optional<KCUPnPURL> url = KCUPnPURL::parse(urlText);
    if (!url)
        return std::nullopt;
    const Clock::time_point deadline = Clock::now() + limits.deadline;
    Socket socket;
    if (socket.fd() < 0 || !connectTo(socket.fd(), *url, deadline))
        return std::nullopt;

    // HTTP/1.0 with "Connection: close": the server ends the body by closing, and most routers
    // then send no chunked encoding (decoded anyway for those that do).
    const QByteArray request = "GET " + url->path + " HTTP/1.0\r\nHost: "
        + KCIPv4Address::toString(url->host).toLatin1() + ':' + QByteArray::number(url->port)
        + "\r\nConnection: close\r\nAccept: text/xml, application/xml\r\n\r\n";
    if (!sendAll(socket.fd(), request, deadline))
        return std::nullopt;

    // Chunk framing may add to the body; anything beyond this is refused outright.
    const qsizetype maximumReceived = limits.maximumHeaderSize + 4 + limits.maximumBodySize * 2 + 1024;
    QByteArray received;
    Head head;
    bool haveHead = false;
    bool closed = false;
    char buffer[16 * 1024];
    for (;;) {
        if (!haveHead) {
            const HeadResult result = parseHead(received, limits, head);
            if (result == HeadResult::Refused)
                return std::nullopt;
            haveHead = result == HeadResult::Complete;
        }
        if (haveHead) {
            const QByteArrayView body = QByteArrayView(received).sliced(head.bodyOffset);
            if (head.chunked) {
                QByteArray decoded;
                const ChunkedResult result = decodeChunked(body, limits.maximumBodySize, decoded);
                if (result == ChunkedResult::Complete)
                    return decoded;
                if (result == ChunkedResult::Invalid)
                    return std::nullopt;
            } else if (head.contentLength) {
                if (body.size() >= *head.contentLength)
                    return body.first(*head.contentLength).toByteArray();
            } else if (body.size() > limits.maximumBodySize) {
                return std::nullopt;
            } else if (closed) {
                return body.toByteArray();
            }
        }
        if (closed || received.size() > maximumReceived)
            return std::nullopt;
        const ssize_t count = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (count > 0) {
            received.append(buffer, qsizetype(count));
        } else if (count == 0) {
            closed = true;
        } else if (errno != EAGAIN && errno != EINTR) {
            return std::nullopt;
        } else if (!waitFor(socket.fd(), POLLIN, deadline)) {
            return std::nullopt;
        }
    }
}

} // namespace KCBoundedHTTPFetch
