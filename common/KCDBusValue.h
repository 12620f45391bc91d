#pragma once

#include <QVariant>
#include <QVariantMap>

// Property-list values (dictionaries, lists, strings, numbers, data) as they cross the bus.
//
// Qt sends a nested dictionary as a variant holding a{sv} and a list as av, and a number as the
// D-Bus kind of its C++ type (bool b, qint64 x, double d, quint16 q, ...), but it hands nested
// containers to the receiver as unread QDBusArgument values. These functions make both ends see
// the same values: toDBus() before sending, fromDBus() on what arrived.
namespace KCDBusValue {

// A dictionary in the form Qt marshals as a{sv} with every nested value intact: lists of any kind
// become QVariantList (av), hashes become QVariantMap, float becomes double. Values that have no
// D-Bus form (an empty QVariant, dates, other Qt types) are left out with a warning rather than
// failing the whole message.
QVariantMap toDBus(const QVariantMap &map);
QVariant toDBus(const QVariant &value);

// A received dictionary with every nested QDBusArgument and QDBusVariant unpacked: dictionaries as
// QVariantMap (keys as text), arrays and structures as QVariantList, numbers and strings as the
// kind they were sent as.
QVariantMap fromDBus(const QVariantMap &map);
QVariant fromDBus(const QVariant &value);

// A rough count of the bytes a value takes (text as UTF-16, eight bytes per scalar and per entry),
// so a receiver can refuse oversized input before it works on it.
qint64 approximateSize(const QVariant &value);

} // namespace KCDBusValue
