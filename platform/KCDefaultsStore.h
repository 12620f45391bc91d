#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// A typed key-value store: one domain of settings that keeps each value's kind. Values are
// bool, qint64, double, QString, QVariantList or QVariantMap (nested of the same kinds).
// Registered fallbacks answer for absent keys and are never written.
class KCDefaultsStore {
public:
    virtual ~KCDefaultsStore() = default;

    virtual void registerDefaults(const QVariantMap &defaults) = 0;
    // The stored value, else the registered fallback, else an invalid QVariant.
    virtual QVariant objectForKey(const QString &key) const = 0;
    // Stores the value (an invalid QVariant removes the key). The value is kept in memory even
    // when it cannot be persisted; the result says whether it reached the disk.
    virtual bool setObject(const QVariant &value, const QString &key) = 0;
    virtual bool removeObject(const QString &key) = 0;

    // A number's integer value (reals are truncated), a string's leading integer, else 0.
    qint64 integerForKey(const QString &key) const;
    bool setInteger(qint64 value, const QString &key) { return setObject(QVariant::fromValue(value), key); }
};

// The kinds the store keeps, for code that checks what it read.
namespace KCValue {
bool isBool(const QVariant &value);
bool isInteger(const QVariant &value);
bool isReal(const QVariant &value);
// Booleans and integers and reals: the "number" kind of the property lists clients send.
bool isNumber(const QVariant &value);
// A number's integer value: booleans are 0 or 1, reals are truncated and clamped to the range;
// 0 for anything that is not a number.
qint64 integerValue(const QVariant &value);
bool isString(const QVariant &value);
bool isList(const QVariant &value);
bool isMap(const QVariant &value);
// Converts integers of any width to qint64, floats to double and string lists to lists,
// recursively, so that values compare equal whatever produced them.
QVariant normalized(const QVariant &value);
} // namespace KCValue
