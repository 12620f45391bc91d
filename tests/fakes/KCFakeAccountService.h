#pragma once

#include "KCFakeRecordedRequest.h"
#include "KCFakeResponse.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

class QHttpServerRequest;
class QTcpSocket;

// A stand-in for the account web service on 127.0.0.1, for tests and demonstrations. It serves
// every endpoint under "/app/6.0", records each request and answers as the test scripted it.
//
// Each endpoint has a standing answer (a default until set) and a queue of one-time answers that
// go first, one per request, in the order queued. The defaults: update answers every account of
// the request with 0, sign-out and sign-out-all {"statusCode":22}, the router statistics {}, the
// sign-in family {"statusCode":21,"wants2fa":false}, a code resend {"statusCode":42}, the
// two-factor switch {"statusCode":46}; any other path is a 404 HTML page.
class KCFakeAccountService : public QObject {
    Q_OBJECT

public:
    static const QString basePath;      // "/app/6.0"
    static const QStringList endpoints; // "/computer/update.php" and the others

    explicit KCFakeAccountService(QObject *parent = nullptr);
    ~KCFakeAccountService() override;

    // Serves HTTPS with the PEM certificate and key instead of HTTP. Call before listen().
    bool useTls(const QString &certificateFile, const QString &keyFile, QString *error);
    // Binds 127.0.0.1 on the port, or on a free one for 0.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:PORT/app/6.0" (or https).
    QString baseURL() const;
    QString url(const QString &endpoint) const;

    void setResponse(const QString &endpoint, const KCFakeResponse &response);
    void queueResponse(const QString &endpoint, const KCFakeResponse &response);
    // A JSON object from endpoint to an answer (KCFakeResponse::fromJson) or to a list of them:
    // all but the last are queued, the last one stands.
    bool loadScript(const QString &path, QString *error);
    // Appends every request to the file as one line of JSON (KCFakeRecordedRequest::toJson).
    bool setRequestLog(const QString &path, QString *error);

    QList<KCFakeRecordedRequest> requests() const { return _requests; }
    QList<KCFakeRecordedRequest> requests(const QString &endpoint) const;
    // Runs the event loop until that many requests in all have arrived or the deadline passed.
    bool waitForRequests(qsizetype count, std::chrono::milliseconds deadline = std::chrono::seconds(20));

Q_SIGNALS:
    void requestReceived(const KCFakeRecordedRequest &request);

private:
    class Server;

    void handle(const QHttpServerRequest &request, QTcpSocket *socket);
    KCFakeResponse nextResponse(const QString &endpoint);
    static void writeItself(QTcpSocket *socket, const KCFakeResponse &response, const QByteArray &body);

    std::unique_ptr<Server> _server;
    quint16 _port = 0;
    bool _tls = false;
    QHash<QString, KCFakeResponse> _standing;
    QHash<QString, QList<KCFakeResponse>> _queued;
    QList<KCFakeRecordedRequest> _requests;
    QFile _log;
};

Q_DECLARE_METATYPE(KCFakeRecordedRequest)
