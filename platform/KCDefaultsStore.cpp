#include "KCDefaultsStore.h"

#include <QMetaType>
#include <cmath>
#include <limits>

qint64 KCDefaultsStore::integerForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (KCValue::isNumber(value))
        return KCValue::integerValue(value);
    if (KCValue::isString(value)) {
        const QString text = value.toString().trimmed();
        qsizetype end = 0;
        if (end < text.size() && (text[end] == QLatin1Char('-') || text[end] == QLatin1Char('+')))
            ++end;
        while (end < text.size() && text[end].isDigit())
            ++end;
        bool ok = false;
        const qint64 parsed = text.left(end).toLongLong(&ok);
        return ok ? parsed : 0;
    }
    return 0;
}

namespace KCValue {

bool isBool(const QVariant &value)
{
    return value.typeId() == QMetaType::Bool;
}

bool isInteger(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isReal(const QVariant &value)
{
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

bool isNumber(const QVariant &value)
{
    return isBool(value) || isInteger(value) || isReal(value);
}

qint64 integerValue(const QVariant &value)
{
    if (isBool(value))
        return value.toBool() ? 1 : 0;
    if (isInteger(value))
        return value.toLongLong();
    if (isReal(value)) {
        const double real = value.toDouble();
        if (!std::isfinite(real))
            return 0;
        if (real >= double(std::numeric_limits<qint64>::max()))
            return std::numeric_limits<qint64>::max();
        if (real <= double(std::numeric_limits<qint64>::min()))
            return std::numeric_limits<qint64>::min();
        return qint64(real);
    }
    return 0;
}

bool isString(const QVariant &value)
{
    return value.typeId() == QMetaType::QString;
}

bool isList(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantList;
}

bool isMap(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantMap;
}

QVariant normalized(const QVariant &value)
{
    if (isBool(value))
        return value;
    if (isInteger(value)) {
        if (value.typeId() == QMetaType::ULongLong || value.typeId() == QMetaType::ULong) {
            const qulonglong unsignedValue = value.toULongLong();
            if (unsignedValue > qulonglong(std::numeric_limits<qint64>::max()))
                return QVariant::fromValue(double(unsignedValue));
        }
        return QVariant::fromValue(value.toLongLong());
    }
    if (isReal(value))
        return QVariant::fromValue(value.toDouble());
    // A list of strings is an array like any other.
    if (isList(value) || value.typeId() == QMetaType::QStringList) {
        QVariantList list = value.toList();
        for (QVariant &element : list)
            element = normalized(element);
        return list;
    }
    if (isMap(value)) {
        QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            it.value() = normalized(it.value());
        return map;
    }
    return value;
}

} // namespace KCValue
