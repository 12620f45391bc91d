#include "KCFakeIGDHTTPServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace {

constexpr qsizetype kMaxHeaderBytes = 64 * 1024;
constexpr qsizetype kMaxBodyBytes = 1024 * 1024;
constexpr int kIdleTimeoutMs = 10000;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

void respond(QTcpSocket *socket, const KCFakeIGDHTTPResponse &response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status)
        + "\r\nContent-Type: " + response.contentType + "\r\nContent-Length: "
        + QByteArray::number(response.body.size())
        + "\r\nServer: Linux/6 UPnP/1.1 FendrelLabFakeIGD/1.0\r\nConnection: close\r\n\r\n";
    socket->write(head);
    socket->write(response.body);
    socket->disconnectFromHost();
}

// Parses the request head; returns false when it is not HTTP.
bool parseHead(const QByteArray &head, KCFakeIGDHTTPRequest *request)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    request->method = requestLine.at(0);
    request->path = requestLine.at(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request->headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    return true;
}

} // namespace

KCFakeIGDHTTPServer::KCFakeIGDHTTPServer(Handler handler, QObject *parent)
    : QObject(parent)
    , _handler(std::move(handler))
{
    connect(&_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = _server.nextPendingConnection())
            serve(socket);
    });
}

bool KCFakeIGDHTTPServer::listen(const QHostAddress &address, quint16 port)
{
    return _server.listen(address, port);
}

void KCFakeIGDHTTPServer::serve(QTcpSocket *socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    connect(idle, &QTimer::timeout, socket, &QObject::deleteLater);
    idle->start(kIdleTimeoutMs);

    auto answered = std::make_shared<bool>(false);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, idle, answered] {
        idle->start(kIdleTimeoutMs);
        if (*answered) {
            socket->readAll();
            return;
        }
        const QByteArray buffered = socket->peek(kMaxHeaderBytes + kMaxBodyBytes + 1);
        const qsizetype headEnd = buffered.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (buffered.size() > kMaxHeaderBytes) {
                *answered = true;
                respond(socket, {413, "text/plain", "header too large\n"});
            }
            return;
        }
        KCFakeIGDHTTPRequest request;
        request.peer = socket->peerAddress();
        if (!parseHead(buffered.left(headEnd), &request)) {
            *answered = true;
            respond(socket, {400, "text/plain", "not HTTP\n"});
            return;
        }
        bool lengthOk = true;
        const qsizetype length = request.headers.value("content-length", "0").toLongLong(&lengthOk);
        if (!lengthOk || length < 0 || length > kMaxBodyBytes) {
            *answered = true;
            respond(socket, {413, "text/plain", "body too large\n"});
            return;
        }
        if (buffered.size() < headEnd + 4 + length)
            return;
        request.body = buffered.mid(headEnd + 4, length);
        socket->read(headEnd + 4 + length);
        *answered = true;
        respond(socket, _handler(request));
    });
}
