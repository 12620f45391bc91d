#include "KCURLError.h"

namespace KCURLError {
namespace {

QString descriptionOf(KCURLErrorCode code)
{
    switch (code) {
    case KCURLErrorBadURL:
        return QStringLiteral("The URL of the request is missing or invalid.");
    case KCURLErrorTimedOut:
        return QStringLiteral("The request timed out.");
    case KCURLErrorUnsupportedURL:
        return QStringLiteral("The URL of the request is not an HTTP or HTTPS URL.");
    case KCURLErrorCannotFindHost:
        return QStringLiteral("The server's host name could not be resolved.");
    case KCURLErrorCannotConnectToHost:
        return QStringLiteral("Could not connect to the server.");
    case KCURLErrorNetworkConnectionLost:
        return QStringLiteral("The connection to the server was lost.");
    case KCURLErrorNotConnectedToInternet:
        return QStringLiteral("The network is not available.");
    case KCURLErrorBadServerResponse:
        return QStringLiteral("The server's response could not be read.");
    case KCURLErrorDataLengthExceedsMaximum:
        return QStringLiteral("The server's response is larger than allowed.");
    case KCURLErrorSecureConnectionFailed:
        return QStringLiteral("A secure connection to the server could not be made.");
    case KCURLErrorServerCertificateUntrusted:
        return QStringLiteral("The server's certificate is not trusted.");
    }
    return QString();
}

bool isProxyError(QNetworkReply::NetworkError error)
{
    return error >= QNetworkReply::ProxyConnectionRefusedError && error <= QNetworkReply::UnknownProxyError;
}

} // namespace

KCError make(KCURLErrorCode code, const QString &urlString, const QString &debugDescription)
{
    KCError error{KCURLErrorDomain, code, {{KCErrorDescriptionKey, descriptionOf(code)}}};
    if (!urlString.isEmpty())
        error.userInfo.insert(KCErrorFailingURLStringKey, urlString);
    if (!debugDescription.isEmpty())
        error.userInfo.insert(KCErrorDebugDescriptionKey, debugDescription);
    return error;
}

KCURLErrorCode codeForNetworkError(QNetworkReply::NetworkError error, bool certificateRejected)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return KCURLErrorCannotConnectToHost;
    case QNetworkReply::RemoteHostClosedError:
        return KCURLErrorNetworkConnectionLost;
    case QNetworkReply::HostNotFoundError:
        return KCURLErrorCannotFindHost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::ProxyTimeoutError:
        return KCURLErrorTimedOut;
    case QNetworkReply::SslHandshakeFailedError:
        return certificateRejected ? KCURLErrorServerCertificateUntrusted : KCURLErrorSecureConnectionFailed;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return KCURLErrorNotConnectedToInternet;
    case QNetworkReply::ProtocolUnknownError:
        return KCURLErrorUnsupportedURL;
    default:
        break;
    }
    return isProxyError(error) ? KCURLErrorCannotConnectToHost : KCURLErrorBadServerResponse;
}

} // namespace KCURLError
