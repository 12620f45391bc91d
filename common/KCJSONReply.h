#pragma once

#include "KCError.h"

#include <QByteArray>
#include <QVariant>
#include <optional>

// A web-service reply parsed as JSON, where any JSON value may stand at the top level: an object
// (QVariantMap), an array (QVariantList), a string, a number (qint64 when integral, else
// double), a boolean or null (a valid QVariant holding nullptr).
struct KCJSONReply {
    QVariant value;              // invalid when parsing failed
    std::optional<KCError> error; // KCJSONErrorDomain, KCJSONErrorCorruptData

    static KCJSONReply parse(const QByteArray &data);
};
