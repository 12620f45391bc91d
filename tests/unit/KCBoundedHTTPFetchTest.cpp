#include "KCBoundedHTTPFetch.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A one-shot HTTP server on 127.0.0.1: takes one connection, reads the request head, writes the
// canned reply and then either closes or keeps the connection open until the client goes.
class CannedServer {
public:
    CannedServer(QByteArray reply, bool holdOpen = false) : m_reply(std::move(reply)), m_holdOpen(holdOpen)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~CannedServer()
    {
        m_thread.join();
        ::close(m_listener);
    }

    QByteArray url(const char *path = "/rootDesc.xml") const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_port) + path;
    }
    QByteArray request() const { return m_request; }

private:
    void serve()
    {
        const int connection = ::accept(m_listener, nullptr, nullptr);
        if (connection < 0)
            return;
        char buffer[4096];
        while (!m_request.contains("\r\n\r\n")) {
            const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            m_request.append(buffer, count);
        }
        ::send(connection, m_reply.constData(), size_t(m_reply.size()), MSG_NOSIGNAL);
        if (m_holdOpen) {
            // Until the client gives up and closes.
            while (::recv(connection, buffer, sizeof buffer, 0) > 0) {
            }
        }
        ::close(connection);
    }

    QByteArray m_reply;
    bool m_holdOpen;
    int m_listener = -1;
    uint16_t m_port = 0;
    QByteArray m_request;
    std::thread m_thread;
};

const QByteArray kDocument = "<root><modelName>M</modelName></root>";

TEST(KCBoundedHTTPFetch, SendsAPlainGetForThePath)
{
    CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kDocument.size()) + "\r\n\r\n"
        + kDocument);
    EXPECT_EQ(KCBoundedHTTPFetch::get(server.url("/rootDesc.xml?x=1")), kDocument);
    const QByteArray request = server.request();
    EXPECT_TRUE(request.startsWith("GET /rootDesc.xml?x=1 HTTP/1.0\r\n")) << request.constData();
    EXPECT_TRUE(request.contains("\r\nHost: 127.0.0.1:")) << request.constData();
}

struct FetchCase {
    const char *name;
    QByteArray reply;
    std::optional<QByteArray> body;
};

TEST(KCBoundedHTTPFetch, BodiesAndRefusals)
{
    const qsizetype cap = 256 * 1024;
    const QByteArray oversized(cap + 1, 'x');
    const std::vector<FetchCase> cases = {
        {"length given, extra bytes ignored", "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello world", "hello"},
        {"ended by close", "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + kDocument, kDocument},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6;x=y\r\n world\r\n0\r\n\r\n",
            "hello world"},
        {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", QByteArray()},
        {"exactly the cap", "HTTP/1.0 200 OK\r\n\r\n" + QByteArray(cap, 'x'), QByteArray(cap, 'x')},
        {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\nnope!", std::nullopt},
        {"redirect not followed", "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\n\r\n", std::nullopt},
        {"announced length over the cap", "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\nxx", std::nullopt},
        {"body over the cap", "HTTP/1.0 200 OK\r\n\r\n" + oversized, std::nullopt},
        {"chunked body over the cap",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n40001\r\n" + oversized + "\r\n0\r\n\r\n",
            std::nullopt},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", std::nullopt},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n", std::nullopt},
        {"chunk overruns", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n", std::nullopt},
        {"unknown transfer coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxx", std::nullopt},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nxx", std::nullopt},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nxxx", std::nullopt},
        {"head without end", "HTTP/1.1 200 OK\r\nX: " + QByteArray(20000, 'h'), std::nullopt},
        {"not HTTP", "SSH-2.0-OpenSSH_9.2\r\n\r\n", std::nullopt},
        {"nothing", QByteArray(), std::nullopt},
    };
    for (const FetchCase &c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(c.reply);
        EXPECT_EQ(KCBoundedHTTPFetch::get(server.url()), c.body);
    }
}

TEST(KCBoundedHTTPFetch, GivesUpOnAServerThatStalls)
{
    // The head arrives, the body never does, and the server keeps the connection open.
    CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial", true);
    KCBoundedHTTPFetch::Limits limits;
    limits.deadline = 300ms;
    EXPECT_FALSE(KCBoundedHTTPFetch::get(server.url(), limits));
}

TEST(KCBoundedHTTPFetch, FetchesOnlyIPv4HTTPURLs)
{
    for (const char *url : {"http://localhost/x", "https://127.0.0.1/x", "http://[::1]/x", "file:///etc/passwd",
             "http://127.0.0.1"}) {
        EXPECT_FALSE(KCBoundedHTTPFetch::get(url)) << url;
    }
}

TEST(KCBoundedHTTPFetch, DecodesChunksIncrementally)
{
    QByteArray out;
    using R = KCBoundedHTTPFetch::ChunkedResult;
    EXPECT_EQ(KCBoundedHTTPFetch::decodeChunked("5\r\nhel", 100, out), R::Incomplete);
    EXPECT_EQ(KCBoundedHTTPFetch::decodeChunked("5\r\nhello\r\n", 100, out), R::Incomplete);
    EXPECT_EQ(KCBoundedHTTPFetch::decodeChunked("5\r\nhello\r\n0\r\n", 100, out), R::Complete);
    EXPECT_EQ(out, "hello");
    EXPECT_EQ(KCBoundedHTTPFetch::decodeChunked("5\r\nhello\r\n0\r\n", 4, out), R::Invalid);
    EXPECT_EQ(KCBoundedHTTPFetch::decodeChunked("ffffffff\r\n", 100, out), R::Invalid);
    EXPECT_EQ(KCBoundedHTTPFetch::decodeChunked(QByteArray(2000, '1'), 100, out), R::Invalid);
}

} // namespace
