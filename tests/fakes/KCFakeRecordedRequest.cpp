#include "KCFakeRecordedRequest.h"

#include <QJsonArray>
#include <algorithm>
#include <optional>

namespace {

QString decodeComponent(QByteArray text)
{
    text.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
}

// "name[key]" gives name and key; anything else gives nothing.
std::optional<std::pair<QString, QString>> splitBracketed(const QString &fieldName)
{
    const qsizetype open = fieldName.indexOf(QLatin1Char('['));
    if (open <= 0 || !fieldName.endsWith(QLatin1Char(']')))
        return std::nullopt;
    return std::make_pair(fieldName.left(open), fieldName.mid(open + 1, fieldName.size() - open - 2));
}

QJsonArray pairs(const QList<std::pair<QString, QString>> &list)
{
    QJsonArray array;
    for (const auto &[first, second] : list)
        array.append(QJsonArray{first, second});
    return array;
}

} // namespace

QByteArray KCFakeRecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QString KCFakeRecordedRequest::field(const QString &name) const
{
    for (const auto &[key, value] : fields) {
        if (key == name)
            return value;
    }
    return QString();
}

bool KCFakeRecordedRequest::hasField(const QString &name) const
{
    return std::any_of(fields.cbegin(), fields.cend(), [&](const Field &f) { return f.first == name; });
}

QStringList KCFakeRecordedRequest::arrayField(const QString &name) const
{
    QStringList values;
    const QString arrayName = name + QLatin1String("[]");
    for (const auto &[key, value] : fields) {
        if (key == arrayName)
            values.append(value);
    }
    return values;
}

QList<KCFakeRecordedRequest::Field> KCFakeRecordedRequest::dictionaryField(const QString &name) const
{
    QList<Field> entries;
    for (const auto &[key, value] : fields) {
        const auto split = splitBracketed(key);
        if (split && split->first == name && !split->second.isEmpty())
            entries.append({split->second, value});
    }
    return entries;
}

QJsonObject KCFakeRecordedRequest::toJson() const
{
    QList<std::pair<QString, QString>> headerTexts;
    for (const auto &[key, value] : headers)
        headerTexts.append({QString::fromLatin1(key), QString::fromLatin1(value)});

    QJsonObject form;
    for (const auto &[key, value] : fields) {
        const auto split = splitBracketed(key);
        if (!split) {
            form.insert(key, value);
        } else if (split->second.isEmpty()) {
            QJsonArray array = form.value(split->first).toArray();
            array.append(value);
            form.insert(split->first, array);
        } else {
            QJsonObject object = form.value(split->first).toObject();
            object.insert(split->second, value);
            form.insert(split->first, object);
        }
    }

    return QJsonObject{{QStringLiteral("method"), method},
                       {QStringLiteral("path"), path},
                       {QStringLiteral("headers"), pairs(headerTexts)},
                       {QStringLiteral("body"), QString::fromUtf8(body)},
                       {QStringLiteral("fields"), pairs(fields)},
                       {QStringLiteral("form"), form}};
}

QList<KCFakeRecordedRequest::Field> KCFakeRecordedRequest::decodeForm(const QByteArray &body)
{
    QList<Field> fields;
    for (const QByteArray &piece : body.split('&')) {
        if (piece.isEmpty())
            continue;
        const qsizetype equals = piece.indexOf('=');
        if (equals < 0)
            fields.append({decodeComponent(piece), QString()});
        else
            fields.append({decodeComponent(piece.left(equals)), decodeComponent(piece.mid(equals + 1))});
    }
    return fields;
}
