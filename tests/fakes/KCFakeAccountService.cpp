#include "KCFakeAccountService.h"

#include <QAbstractHttpServer>
#include <QEventLoop>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QTimer>

using namespace std::chrono_literals;

const QString KCFakeAccountService::basePath = QStringLiteral("/app/6.0");
const QStringList KCFakeAccountService::endpoints = {
    QStringLiteral("/computer/update.php"),
    QStringLiteral("/computer/signout.php"),
    QStringLiteral("/computer/igdStats_v2.php"),
    QStringLiteral("/computer/signin.php"),
    QStringLiteral("/computer/signinwpartner.php"),
    QStringLiteral("/computer/signinConfirm.php"),
    QStringLiteral("/computer/resendVerificationCode.php"),
    QStringLiteral("/2FA/update2FA.php"),
    QStringLiteral("/computer/signinStatus.php"),
    QStringLiteral("/computer/status.php"),
    QStringLiteral("/computer/updateAPNToken.php"),
    QStringLiteral("/2FA/signOutAll.php"),
};

// Qt HTTP Server parses the requests; the fake either answers through its responder or, for
// delays and broken connections, writes on the connection itself.
class KCFakeAccountService::Server : public QAbstractHttpServer {
public:
    explicit Server(KCFakeAccountService &service)
        : _service(service)
    {
    }

    static QHttpServerResponder responderFor(const QHttpServerRequest &request, QTcpSocket *socket)
    {
        return makeResponder(request, socket);
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        _service.handle(request, socket);
        return true;
    }

    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    KCFakeAccountService &_service;
};

namespace {

KCFakeResponse defaultResponse(const QString &endpoint)
{
    if (endpoint == QLatin1String("/computer/update.php"))
        return KCFakeResponse::accountStatuses(0);
    if (endpoint == QLatin1String("/computer/signout.php") || endpoint == QLatin1String("/2FA/signOutAll.php"))
        return KCFakeResponse::json(R"({"statusCode":22})");
    if (endpoint == QLatin1String("/computer/igdStats_v2.php"))
        return KCFakeResponse::json("{}");
    if (endpoint == QLatin1String("/computer/resendVerificationCode.php"))
        return KCFakeResponse::json(R"({"statusCode":42})");
    if (endpoint == QLatin1String("/2FA/update2FA.php"))
        return KCFakeResponse::json(R"({"statusCode":46})");
    if (KCFakeAccountService::endpoints.contains(endpoint))
        return KCFakeResponse::json(R"({"statusCode":21,"wants2fa":false})");
    return KCFakeResponse::withContentType("<html><body><h1>404 Not Found</h1></body></html>", "text/html", 404);
}

QString endpointOf(const QString &path)
{
    const QString prefix = KCFakeAccountService::basePath + QLatin1Char('/');
    return path.startsWith(prefix) ? path.mid(KCFakeAccountService::basePath.size()) : path;
}

bool answersThroughResponder(const KCFakeResponse &response)
{
    return response.fault == KCFakeResponse::Fault::None && response.delay == 0ms && response.sendContentLength
        && response.headers.isEmpty();
}

std::optional<QSslKey> readKey(const QByteArray &pem)
{
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        const QSslKey key(pem, algorithm, QSsl::Pem);
        if (!key.isNull())
            return key;
    }
    return std::nullopt;
}

std::optional<QByteArray> readFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

KCFakeAccountService::KCFakeAccountService(QObject *parent)
    : QObject(parent)
    , _server(std::make_unique<Server>(*this))
{
}

KCFakeAccountService::~KCFakeAccountService() = default;

bool KCFakeAccountService::useTls(const QString &certificateFile, const QString &keyFile, QString *error)
{
    const auto certificateData = readFile(certificateFile, error);
    const auto keyData = certificateData ? readFile(keyFile, error) : std::nullopt;
    if (!keyData)
        return false;
    const QSslCertificate certificate(*certificateData, QSsl::Pem);
    const auto key = readKey(*keyData);
    if (certificate.isNull() || !key) {
        *error = QStringLiteral("no PEM certificate in %1 or no PEM key in %2").arg(certificateFile, keyFile);
        return false;
    }
    _server->sslSetup(certificate, *key);
    _tls = true;
    return true;
}

bool KCFakeAccountService::listen(quint16 port)
{
    _port = _server->listen(QHostAddress::LocalHost, port);
    return _port != 0;
}

quint16 KCFakeAccountService::port() const
{
    return _port;
}

QString KCFakeAccountService::baseURL() const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(_port).arg(basePath);
}

QString KCFakeAccountService::url(const QString &endpoint) const
{
    return baseURL() + endpoint;
}

void KCFakeAccountService::setResponse(const QString &endpoint, const KCFakeResponse &response)
{
    _standing.insert(endpoint, response);
}

void KCFakeAccountService::queueResponse(const QString &endpoint, const KCFakeResponse &response)
{
    _queued[endpoint].append(response);
}

bool KCFakeAccountService::loadScript(const QString &path, QString *error)
{
    const auto data = readFile(path, error);
    if (!data)
        return false;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(*data, &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object: %2").arg(path, parseError.errorString());
        return false;
    }
    const QJsonObject script = document.object();
    for (auto it = script.begin(); it != script.end(); ++it) {
        const QJsonArray answers = it.value().isArray() ? it.value().toArray() : QJsonArray{it.value()};
        if (answers.isEmpty()) {
            *error = QStringLiteral("%1: no answer").arg(it.key());
            return false;
        }
        QList<KCFakeResponse> responses;
        for (const QJsonValue &answer : answers) {
            QString answerError;
            const auto response = KCFakeResponse::fromJson(answer.toObject(), &answerError);
            if (!response || !answer.isObject()) {
                *error = QStringLiteral("%1: %2").arg(it.key(), answer.isObject() ? answerError : QStringLiteral("not an object"));
                return false;
            }
            responses.append(*response);
        }
        setResponse(it.key(), responses.takeLast());
        for (const KCFakeResponse &response : responses)
            queueResponse(it.key(), response);
    }
    return true;
}

bool KCFakeAccountService::setRequestLog(const QString &path, QString *error)
{
    _log.setFileName(path);
    if (!_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, _log.errorString());
        return false;
    }
    return true;
}

QList<KCFakeRecordedRequest> KCFakeAccountService::requests(const QString &endpoint) const
{
    QList<KCFakeRecordedRequest> matching;
    for (const KCFakeRecordedRequest &request : _requests) {
        if (endpointOf(request.path) == endpoint)
            matching.append(request);
    }
    return matching;
}

bool KCFakeAccountService::waitForRequests(qsizetype count, std::chrono::milliseconds deadline)
{
    if (_requests.size() >= count)
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &KCFakeAccountService::requestReceived, &loop, [&] {
        if (_requests.size() >= count)
            loop.quit();
    });
    timer.start(deadline);
    loop.exec();
    return _requests.size() >= count;
}

KCFakeResponse KCFakeAccountService::nextResponse(const QString &endpoint)
{
    QList<KCFakeResponse> &queue = _queued[endpoint];
    if (!queue.isEmpty())
        return queue.takeFirst();
    return _standing.contains(endpoint) ? _standing.value(endpoint) : defaultResponse(endpoint);
}

void KCFakeAccountService::handle(const QHttpServerRequest &request, QTcpSocket *socket)
{
    KCFakeRecordedRequest recorded;
    recorded.method = QString::fromLatin1(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method()))).toUpper();
    recorded.path = request.url().path();
    for (const auto &[name, value] : request.headers())
        recorded.headers.append({name, value});
    recorded.body = request.body();
    recorded.fields = KCFakeRecordedRequest::decodeForm(recorded.body);
    _requests.append(recorded);
    if (_log.isOpen()) {
        _log.write(QJsonDocument(recorded.toJson()).toJson(QJsonDocument::Compact) + '\n');
        _log.flush();
    }

    const KCFakeResponse response = nextResponse(endpointOf(recorded.path));
    const QByteArray body = response.bodyFor(recorded);
    if (answersThroughResponder(response)) {
        QHttpServerResponder responder = Server::responderFor(request, socket);
        responder.write(body, response.contentType, QHttpServerResponder::StatusCode(response.status));
    } else {
        // Qt HTTP Server's responder has no delayed or broken answers and takes only a fixed list
        // of headers, so these go on the socket directly, from the event loop once the server
        // has finished with the request.
        QTimer::singleShot(response.delay, socket, [socket, response, body] { writeItself(socket, response, body); });
    }
    Q_EMIT requestReceived(recorded);
}

void KCFakeAccountService::writeItself(QTcpSocket *socket, const KCFakeResponse &response, const QByteArray &body)
{
    switch (response.fault) {
    case KCFakeResponse::Fault::None:
        socket->write(response.headBlock(body) + body);
        socket->disconnectFromHost();
        return;
    case KCFakeResponse::Fault::CloseWithoutAnswer:
        socket->disconnectFromHost();
        return;
    case KCFakeResponse::Fault::CloseMidBody:
        socket->write(response.headBlock(body) + body.left(body.size() / 2));
        socket->disconnectFromHost();
        return;
    case KCFakeResponse::Fault::NeverAnswer:
        return;
    case KCFakeResponse::Fault::Trickle: {
        socket->write(response.headBlock(body));
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, body, sent] {
            if (*sent >= body.size()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(body.mid((*sent)++, 1));
        });
        timer->start(response.trickleInterval);
        return;
    }
    }
}
