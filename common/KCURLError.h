#pragma once

#include "KCError.h"

#include <QNetworkReply>
#include <QString>

// The codes of the URL error domain (KCURLErrorDomain), with the values clients of the account
// service know them by.
enum KCURLErrorCode : qint64 {
    KCURLErrorBadURL = -1000,
    KCURLErrorTimedOut = -1001,
    KCURLErrorUnsupportedURL = -1002,
    KCURLErrorCannotFindHost = -1003,
    KCURLErrorCannotConnectToHost = -1004,
    KCURLErrorNetworkConnectionLost = -1005,
    KCURLErrorNotConnectedToInternet = -1009,
    KCURLErrorBadServerResponse = -1011,
    KCURLErrorDataLengthExceedsMaximum = -1103,
    KCURLErrorSecureConnectionFailed = -1200,
    KCURLErrorServerCertificateUntrusted = -1202,
};

// The code of a reply that is not valid JSON (in KCJSONErrorDomain).
inline constexpr qint64 KCJSONErrorCorruptData = 3840;

// User-info keys the errors of a transfer carry besides the description.
inline const QString KCErrorFailingURLStringKey = QStringLiteral("NSErrorFailingURLStringKey");
inline const QString KCErrorDebugDescriptionKey = QStringLiteral("NSDebugDescription");

namespace KCURLError {

// An error of the URL domain with the code's description, the URL that failed and, when given,
// the network layer's own words for it.
KCError make(KCURLErrorCode code, const QString &urlString, const QString &debugDescription = {});

// The code for a transfer that ended without a reply body:
//   ConnectionRefusedError                          -1004 cannot connect to host
//   RemoteHostClosedError                           -1005 network connection lost
//   HostNotFoundError                               -1003 cannot find host
//   TimeoutError, OperationCanceledError            -1001 timed out (only the transfer time-out cancels)
//   SslHandshakeFailedError                         -1202 untrusted certificate when the certificate
//                                                   was rejected, else -1200 secure connection failed
//   TemporaryNetworkFailureError,
//   NetworkSessionFailedError                       -1009 not connected
//   ProxyTimeoutError                               -1001 timed out
//   any other proxy error                           -1004 cannot connect to host
//   ProtocolUnknownError                            -1002 unsupported URL
//   anything else                                   -1011 bad server response
// HTTP error statuses are not transport failures: their body is the reply.
KCURLErrorCode codeForNetworkError(QNetworkReply::NetworkError error, bool certificateRejected);

} // namespace KCURLError
