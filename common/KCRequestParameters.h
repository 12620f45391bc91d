#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <initializer_list>
#include <utility>

// The parameters of a form-encoded request: string keys to values, enumerated in the order the
// keys were first inserted. That order is the order of the fields in the request body, which is
// why this is not a QVariantMap (whose keys always enumerate sorted).
//
// A value is a string, a number or a boolean; a QVariantList or QStringList of such values (sent
// as "key[]=" fields); or a dictionary of such values (sent as "key[subkey]=" fields): either a
// KCRequestParameters, whose sub-keys keep their insertion order, or a QVariantMap, whose
// sub-keys go out sorted.
//
// Equality is that of a dictionary: the same keys with equal values, whatever their order.
class KCRequestParameters {
public:
    using Entry = std::pair<QString, QVariant>;
    using const_iterator = QList<Entry>::const_iterator;

    KCRequestParameters() = default;
    KCRequestParameters(std::initializer_list<Entry> entries);

    // Replaces the value of a key already present where it stands, else appends the key.
    void insert(const QString &key, const QVariant &value);
    void remove(const QString &key);
    bool contains(const QString &key) const;
    // An invalid QVariant when the key is absent.
    QVariant value(const QString &key) const;

    QStringList keys() const;
    qsizetype size() const { return _entries.size(); }
    bool isEmpty() const { return _entries.isEmpty(); }
    const_iterator begin() const { return _entries.cbegin(); }
    const_iterator end() const { return _entries.cend(); }

    friend bool operator==(const KCRequestParameters &a, const KCRequestParameters &b);

private:
    qsizetype indexOf(const QString &key) const;

    QList<Entry> _entries;
};

Q_DECLARE_METATYPE(KCRequestParameters)
