#include "KCHTTPTransfer.h"

#include "KCJSONReply.h"
#include "KCURLError.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>

namespace {

// QNetworkAccessManager reports HTTP error statuses (4xx, 5xx) as errors, but such a reply did
// arrive: its body is the answer, like any other.
bool isHTTPStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

QNetworkRequest preparedRequest(const KCHTTPRequest &request, const QList<QSslCertificate> &trustedAuthorities)
{
    QNetworkRequest networkRequest = request.networkRequest;
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // A redirect would carry the credentials in the body to wherever the reply points.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (networkRequest.transferTimeout() <= 0)
        networkRequest.setTransferTimeout(KCHTTPDefaultTransferTimeoutMilliseconds);

    QSslConfiguration tls = networkRequest.sslConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!trustedAuthorities.isEmpty())
        tls.setCaCertificates(trustedAuthorities);
    networkRequest.setSslConfiguration(tls);
    return networkRequest;
}

} // namespace

void KCHTTPTransfer::start(QNetworkAccessManager &manager, const KCHTTPRequest &request,
                           const QList<QSslCertificate> &trustedAuthorities, KCHTTPCompletion completion)
{
    const QNetworkRequest networkRequest = preparedRequest(request, trustedAuthorities);
    QNetworkReply *reply = manager.post(networkRequest, request.body);
    new KCHTTPTransfer(manager, reply, networkRequest.transferTimeout(), std::move(completion));
}

KCHTTPTransfer::KCHTTPTransfer(QNetworkAccessManager &manager, QNetworkReply *reply, int transferTimeout,
                               KCHTTPCompletion completion)
    : QObject(&manager)
    , _reply(reply)
    , _urlString(reply->url().toString())
    , _completion(std::move(completion))
{
    connect(_reply, &QNetworkReply::metaDataChanged, this, &KCHTTPTransfer::onMetaDataChanged);
    connect(_reply, &QNetworkReply::readyRead, this, &KCHTTPTransfer::onReadyRead);
    connect(_reply, &QNetworkReply::finished, this, &KCHTTPTransfer::onFinished);
    connect(_reply, &QNetworkReply::sslErrors, this, [this] { _certificateRejected = true; });

    _deadline.setSingleShot(true);
    _deadline.setTimerType(Qt::CoarseTimer);
    connect(&_deadline, &QTimer::timeout, this, [this] { abortFor(AbortReason::DeadlinePassed); });
    _deadline.start(transferTimeout * KCHTTPDeadlineInTransferTimeouts);
}

void KCHTTPTransfer::onMetaDataChanged()
{
    // A server that announces more than we accept is stopped before it sends any of it.
    const QVariant length = _reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > KCHTTPMaximumReplyBodySize)
        abortFor(AbortReason::Oversized);
}

bool KCHTTPTransfer::collectBody()
{
    // Reads at most one byte past the cap, so a flood never lands in memory.
    const qint64 room = KCHTTPMaximumReplyBodySize - _body.size();
    _body += _reply->read(room + 1);
    return _body.size() <= KCHTTPMaximumReplyBodySize;
}

void KCHTTPTransfer::onReadyRead()
{
    if (!collectBody())
        abortFor(AbortReason::Oversized);
}

void KCHTTPTransfer::abortFor(AbortReason reason)
{
    if (_completed || _abortReason != AbortReason::None)
        return;
    _abortReason = reason;
    // Emits finished at once; onFinished reports the reason.
    _reply->abort();
}

void KCHTTPTransfer::onFinished()
{
    switch (_abortReason) {
    case AbortReason::Oversized:
        complete({}, oversizedError());
        return;
    case AbortReason::DeadlinePassed:
        complete({}, KCURLError::make(KCURLErrorTimedOut, _urlString, QStringLiteral("The transfer took too long.")));
        return;
    case AbortReason::None:
        break;
    }

    const QNetworkReply::NetworkError error = _reply->error();
    const bool answered = _reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (error != QNetworkReply::NoError && !(answered && isHTTPStatusError(error))) {
        complete({}, KCURLError::make(KCURLError::codeForNetworkError(error, _certificateRejected), _urlString,
                                      _reply->errorString()));
        return;
    }

    if (!collectBody()) {
        complete({}, oversizedError());
        return;
    }
    const KCJSONReply reply = KCJSONReply::parse(_body);
    complete(reply.value, reply.error);
}

KCError KCHTTPTransfer::oversizedError() const
{
    return KCURLError::make(KCURLErrorDataLengthExceedsMaximum, _urlString,
                            QStringLiteral("The reply is larger than %1 bytes.").arg(KCHTTPMaximumReplyBodySize));
}

void KCHTTPTransfer::complete(const QVariant &reply, const std::optional<KCError> &error)
{
    if (_completed)
        return;
    _completed = true;
    _deadline.stop();
    _reply->disconnect(this);
    _reply->deleteLater();
    deleteLater();
    const KCHTTPCompletion completion = std::move(_completion);
    if (completion)
        completion(reply, error);
}
