#include "KCTaggedJson.h"

#include "KCDefaultsStore.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace KCTaggedJson {
namespace {

const QString BoolTag = QStringLiteral("bool");
const QString IntegerTag = QStringLiteral("integer");
const QString RealTag = QStringLiteral("real");
const QString StringTag = QStringLiteral("string");
const QString ArrayTag = QStringLiteral("array");
const QString DictionaryTag = QStringLiteral("dictionary");

QJsonObject tagged(const QString &tag, const QJsonValue &value)
{
    return QJsonObject{{tag, value}};
}

std::optional<QJsonValue> encodeAt(const QVariant &value, int depth)
{
    if (depth > MaxDepth)
        return std::nullopt;
    const QVariant plain = KCValue::normalized(value);
    if (KCValue::isBool(plain))
        return tagged(BoolTag, plain.toBool());
    if (KCValue::isInteger(plain))
        return tagged(IntegerTag, plain.toLongLong());
    if (KCValue::isReal(plain)) {
        const double real = plain.toDouble();
        if (!std::isfinite(real))
            return std::nullopt;
        return tagged(RealTag, real);
    }
    if (KCValue::isString(plain))
        return tagged(StringTag, plain.toString());
    if (KCValue::isList(plain)) {
        QJsonArray array;
        for (const QVariant &element : plain.toList()) {
            const auto encoded = encodeAt(element, depth + 1);
            if (!encoded)
                return std::nullopt;
            array.append(*encoded);
        }
        return tagged(ArrayTag, array);
    }
    if (KCValue::isMap(plain)) {
        const QVariantMap map = plain.toMap();
        QJsonObject object;
        for (auto it = map.begin(); it != map.end(); ++it) {
            const auto encoded = encodeAt(it.value(), depth + 1);
            if (!encoded)
                return std::nullopt;
            object.insert(it.key(), *encoded);
        }
        return tagged(DictionaryTag, object);
    }
    return std::nullopt;
}

std::optional<QVariant> decodeAt(const QJsonValue &json, const QString &where, int depth, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<QVariant> {
        *error = QStringLiteral("%1: %2").arg(where.isEmpty() ? QStringLiteral("value") : where, why);
        return std::nullopt;
    };
    if (depth > MaxDepth)
        return fail(QStringLiteral("nested too deeply"));
    if (!json.isObject() || json.toObject().size() != 1)
        return fail(QStringLiteral("not an object with exactly one kind"));
    const QJsonObject object = json.toObject();
    const QString tag = object.begin().key();
    const QJsonValue inner = object.begin().value();
    if (tag == BoolTag) {
        if (!inner.isBool())
            return fail(QStringLiteral("bool that is not true or false"));
        return QVariant(inner.toBool());
    }
    if (tag == IntegerTag) {
        // toInteger answers its default for anything that is not a whole 64-bit number, so two
        // different defaults tell a real answer from a refusal.
        if (!inner.isDouble() || inner.toInteger(0) != inner.toInteger(1))
            return fail(QStringLiteral("integer that is not a whole 64-bit number"));
        return QVariant::fromValue(inner.toInteger());
    }
    if (tag == RealTag) {
        if (!inner.isDouble())
            return fail(QStringLiteral("real that is not a number"));
        return QVariant(inner.toDouble());
    }
    if (tag == StringTag) {
        if (!inner.isString())
            return fail(QStringLiteral("string that is not text"));
        return QVariant(inner.toString());
    }
    if (tag == ArrayTag) {
        if (!inner.isArray())
            return fail(QStringLiteral("array that is not a list"));
        QVariantList list;
        const QJsonArray array = inner.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            const auto element = decodeAt(array.at(i), QStringLiteral("%1[%2]").arg(where).arg(i), depth + 1, error);
            if (!element)
                return std::nullopt;
            list.append(*element);
        }
        return QVariant(list);
    }
    if (tag == DictionaryTag) {
        if (!inner.isObject())
            return fail(QStringLiteral("dictionary that is not an object"));
        QVariantMap map;
        const QJsonObject members = inner.toObject();
        for (auto it = members.begin(); it != members.end(); ++it) {
            const auto element = decodeAt(it.value(), where + QLatin1Char('/') + it.key(), depth + 1, error);
            if (!element)
                return std::nullopt;
            map.insert(it.key(), *element);
        }
        return QVariant(map);
    }
    return fail(QStringLiteral("unknown kind \"%1\"").arg(tag));
}

} // namespace

std::optional<QJsonValue> encode(const QVariant &value)
{
    return encodeAt(value, 0);
}

std::optional<QVariant> decode(const QJsonValue &json, QString *error)
{
    return decodeAt(json, QString(), 0, error);
}

} // namespace KCTaggedJson
