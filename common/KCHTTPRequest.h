#pragma once

#include "KCError.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QVariant>
#include <functional>
#include <optional>

// A form-encoded POST to a web service: the URL, headers, cache policy and inactivity time-out
// in the QNetworkRequest, and the body bytes exactly as they go on the wire.
struct KCHTTPRequest {
    QNetworkRequest networkRequest;
    QByteArray body;
};

// How long a transfer may go without any progress (connecting, sending or receiving) before it
// fails as timed out. It lives in the request (QNetworkRequest::transferTimeout); a transfer never
// lasts longer than three such periods in all, however slowly a server trickles its reply.
inline constexpr int KCHTTPDefaultTransferTimeoutMilliseconds = 60 * 1000;
inline constexpr int KCHTTPDeadlineInTransferTimeouts = 3;

// A reply body larger than this is cut off and the transfer fails.
inline constexpr qint64 KCHTTPMaximumReplyBodySize = 1024 * 1024;

// The end of a transfer: the parsed JSON reply (an invalid QVariant for none) or an error (empty
// when the reply parsed). Exactly one of the two is set.
using KCHTTPCompletion = std::function<void(const QVariant &reply, const std::optional<KCError> &error)>;
