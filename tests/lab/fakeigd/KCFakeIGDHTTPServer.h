#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <functional>

struct KCFakeIGDHTTPRequest {
    QHostAddress peer;
    QByteArray method;
    QByteArray path;
    // Header names in lower case.
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;
};

struct KCFakeIGDHTTPResponse {
    int status = 200;
    QByteArray contentType = "text/xml; charset=\"utf-8\"";
    QByteArray body;
};

// A minimal HTTP/1.1 server: one request per connection, answered with a length and closed,
// which is all a UPnP control point needs for descriptions and SOAP.
class KCFakeIGDHTTPServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<KCFakeIGDHTTPResponse(const KCFakeIGDHTTPRequest &)>;

    explicit KCFakeIGDHTTPServer(Handler handler, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return _server.serverPort(); }
    QString errorString() const { return _server.errorString(); }

private:
    void serve(QTcpSocket *socket);

    Handler _handler;
    QTcpServer _server;
};
