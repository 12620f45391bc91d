#include "KCDBusValue.h"

#include "KCLog.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QStringList>

namespace KCDBusValue {

namespace {

constexpr qint64 ScalarSize = 8;

// True for the kinds Qt marshals as a D-Bus basic type that the other end reads back unchanged.
bool isBasic(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Bool:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return true;
    default:
        return false;
    }
}

QVariantList listToDBus(const QVariantList &list)
{
    QVariantList converted;
    converted.reserve(list.size());
    for (const QVariant &element : list) {
        QVariant value = toDBus(element);
        if (value.isValid())
            converted.append(value);
    }
    return converted;
}

QVariant readArgument(const QDBusArgument &argument);

QVariant readCurrent(const QDBusArgument &argument)
{
    switch (argument.currentType()) {
    case QDBusArgument::BasicType:
        return fromDBus(argument.asVariant());
    case QDBusArgument::VariantType:
        return fromDBus(argument.asVariant().value<QDBusVariant>().variant());
    case QDBusArgument::ArrayType: {
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd())
            list.append(readCurrent(argument));
        argument.endArray();
        return list;
    }
    case QDBusArgument::StructureType: {
        QVariantList fields;
        argument.beginStructure();
        while (!argument.atEnd())
            fields.append(readCurrent(argument));
        argument.endStructure();
        return fields;
    }
    case QDBusArgument::MapType: {
        QVariantMap map;
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const QString key = fromDBus(argument.asVariant()).toString();
            map.insert(key, readCurrent(argument));
            argument.endMapEntry();
        }
        argument.endMap();
        return map;
    }
    case QDBusArgument::MapEntryType:
    case QDBusArgument::UnknownType:
        break;
    }
    return {};
}

QVariant readArgument(const QDBusArgument &argument)
{
    // Reading moves the argument's position; a copy keeps the caller's value as it was.
    const QDBusArgument copy = argument;
    return readCurrent(copy);
}

} // namespace

QVariant toDBus(const QVariant &value)
{
    const QMetaType type = value.metaType();
    if (isBasic(type))
        return value;
    switch (type.id()) {
    case QMetaType::QVariantMap:
        return toDBus(value.toMap());
    case QMetaType::QVariantHash: {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            map.insert(it.key(), it.value());
        return toDBus(map);
    }
    case QMetaType::QVariantList:
        return listToDBus(value.toList());
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString &text : value.toStringList())
            list.append(text);
        return list;
    }
    case QMetaType::Float:
        return static_cast<double>(value.toFloat());
    default:
        break;
    }
    if (type == QMetaType::fromType<QDBusVariant>())
        return toDBus(value.value<QDBusVariant>().variant());
    qCWarning(lcKC).noquote() << QStringLiteral("Leaving out a value of kind %1: it cannot cross the bus")
                                     .arg(QString::fromLatin1(type.isValid() ? type.name() : "invalid"));
    return {};
}

QVariantMap toDBus(const QVariantMap &map)
{
    QVariantMap converted;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        QVariant value = toDBus(it.value());
        if (value.isValid())
            converted.insert(it.key(), value);
    }
    return converted;
}

QVariant fromDBus(const QVariant &value)
{
    const QMetaType type = value.metaType();
    if (type == QMetaType::fromType<QDBusArgument>())
        return readArgument(value.value<QDBusArgument>());
    if (type == QMetaType::fromType<QDBusVariant>())
        return fromDBus(value.value<QDBusVariant>().variant());
    if (type == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (type == QMetaType::fromType<QDBusSignature>())
        return value.value<QDBusSignature>().signature();
    switch (type.id()) {
    case QMetaType::QVariantMap:
        return fromDBus(value.toMap());
    case QMetaType::QVariantList: {
        QVariantList list;
        for (const QVariant &element : value.toList())
            list.append(fromDBus(element));
        return list;
    }
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString &text : value.toStringList())
            list.append(text);
        return list;
    }
    default:
        return value;
    }
}

QVariantMap fromDBus(const QVariantMap &map)
{
    QVariantMap converted;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        converted.insert(it.key(), fromDBus(it.value()));
    return converted;
}

qint64 approximateSize(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return value.toString().size() * 2;
    case QMetaType::QByteArray:
        return value.toByteArray().size();
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        qint64 size = ScalarSize;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            size += ScalarSize + it.key().size() * 2 + approximateSize(it.value());
        return size;
    }
    case QMetaType::QVariantList: {
        qint64 size = ScalarSize;
        for (const QVariant &element : value.toList())
            size += approximateSize(element);
        return size;
    }
    default:
        return ScalarSize;
    }
}

} // namespace KCDBusValue
