#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <chrono>
#include <optional>

// A blocking HTTP GET for documents a router serves (its UPnP root description), for use on a
// worker thread. The body is capped and the whole exchange has a deadline, so a device that
// sends without end or trickles a byte at a time cannot hold memory or the worker.
namespace KCBoundedHTTPFetch {

struct Limits {
    qsizetype maximumBodySize = 256 * 1024;
    qsizetype maximumHeaderSize = 16 * 1024;
    std::chrono::milliseconds deadline {5000};
};

// Fetches an "http://A.B.C.D[:port]/path" URL (see KCUPnPURL; no name is ever resolved) and
// returns the body of a 200 reply, de-chunked; nothing on any failure, a body over the cap
// included.
std::optional<QByteArray> get(QByteArrayView url, const Limits &limits = {});

enum class ChunkedResult { Complete, Incomplete, Invalid };
// Decodes a chunked body (RFC 9112 section 7.1) into out, refusing more than maximumSize bytes.
ChunkedResult decodeChunked(QByteArrayView body, qsizetype maximumSize, QByteArray &out);

} // namespace KCBoundedHTTPFetch
