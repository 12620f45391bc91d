#pragma once

#include "KCFakeRecordedRequest.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <chrono>
#include <optional>

// How the fake account service answers one request.
struct KCFakeResponse {
    enum class Fault {
        None,
        CloseWithoutAnswer, // close the connection once the request is read
        CloseMidBody,       // send the headers and half the body, then close
        NeverAnswer,        // keep the connection open and say nothing
        Trickle,            // send the body one byte per trickleInterval
    };

    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    // Sent after the content type, e.g. a Location.
    QList<std::pair<QByteArray, QByteArray>> headers;
    // Wait this long after the request before doing anything.
    std::chrono::milliseconds delay{0};
    Fault fault = Fault::None;
    // Without a Content-Length the body ends where the connection closes.
    bool sendContentLength = true;
    std::chrono::milliseconds trickleInterval{50};
    // When set, the body is computed from the request: an object answering every account of
    // its "kovraID[]" fields (or its one "kovraID" field) with this number.
    std::optional<int> everyAccountStatus;

    static KCFakeResponse json(const QByteArray &body, int status = 200);
    static KCFakeResponse withContentType(const QByteArray &body, const QByteArray &contentType, int status = 200);
    static KCFakeResponse withFault(Fault fault, const QByteArray &body = QByteArray());
    static KCFakeResponse accountStatuses(int status);

    // The answer of a script file entry: {"status": 200, "body": "text" or "json": value,
    // "contentType": "...", "headers": {"Name": "value"}, "delayMs": 0, "fault": "none" | "close" | "close-mid-body" |
    // "never-answer" | "trickle", "contentLength": true, "trickleIntervalMs": 50,
    // "accountStatus": 0}. None, with the reason, when the entry is malformed.
    static std::optional<KCFakeResponse> fromJson(const QJsonObject &object, QString *error);

    QByteArray bodyFor(const KCFakeRecordedRequest &request) const;
    // The status line and headers, when the fake writes the reply on the socket itself.
    QByteArray headBlock(const QByteArray &body) const;
};
