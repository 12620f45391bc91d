#include "KCJSONReply.h"

#include "KCURLError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

KCJSONReply failure(const QString &debugDescription)
{
    return {QVariant(),
            KCError{KCJSONErrorDomain,
                    KCJSONErrorCorruptData,
                    {{KCErrorDescriptionKey, QStringLiteral("The reply could not be read because it is not valid JSON.")},
                     {KCErrorDebugDescriptionKey, debugDescription}}}};
}

} // namespace

KCJSONReply KCJSONReply::parse(const QByteArray &data)
{
    // QJsonDocument only takes an object or an array at the top level, so the reply is parsed as
    // the only element of an array. That accepts exactly the valid JSON texts: the brackets can
    // only pair with each other (anything after the array's end is an error, and the last byte is
    // its closing bracket), so the reply must be the array's whole content, and a content of
    // exactly one element is one JSON value with white space around it. "1,2" has two elements,
    // "" or blanks none, and both are refused.
    QByteArray wrapped;
    wrapped.reserve(data.size() + 2);
    wrapped.append('[').append(data).append(']');

    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int offset = qMax(0, parseError.offset - 1);
        return failure(QStringLiteral("%1 at offset %2.").arg(parseError.errorString()).arg(offset));
    }
    const QJsonArray array = document.array();
    if (array.isEmpty())
        return failure(QStringLiteral("The reply is empty."));
    if (array.size() != 1)
        return failure(QStringLiteral("The reply holds more than one JSON value."));
    return {array.first().toVariant(), std::nullopt};
}
