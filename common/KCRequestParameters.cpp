#include "KCRequestParameters.h"

KCRequestParameters::KCRequestParameters(std::initializer_list<Entry> entries)
{
    for (const Entry &entry : entries)
        insert(entry.first, entry.second);
}

void KCRequestParameters::insert(const QString &key, const QVariant &value)
{
    const qsizetype index = indexOf(key);
    if (index < 0)
        _entries.append({key, value});
    else
        _entries[index].second = value;
}

void KCRequestParameters::remove(const QString &key)
{
    const qsizetype index = indexOf(key);
    if (index >= 0)
        _entries.removeAt(index);
}

bool KCRequestParameters::contains(const QString &key) const
{
    return indexOf(key) >= 0;
}

QVariant KCRequestParameters::value(const QString &key) const
{
    const qsizetype index = indexOf(key);
    return index < 0 ? QVariant() : _entries[index].second;
}

QStringList KCRequestParameters::keys() const
{
    QStringList keys;
    keys.reserve(_entries.size());
    for (const Entry &entry : _entries)
        keys.append(entry.first);
    return keys;
}

qsizetype KCRequestParameters::indexOf(const QString &key) const
{
    for (qsizetype i = 0; i < _entries.size(); ++i) {
        if (_entries[i].first == key)
            return i;
    }
    return -1;
}

bool operator==(const KCRequestParameters &a, const KCRequestParameters &b)
{
    if (a.size() != b.size())
        return false;
    for (const KCRequestParameters::Entry &entry : a) {
        const qsizetype index = b.indexOf(entry.first);
        if (index < 0 || b._entries[index].second != entry.second)
            return false;
    }
    return true;
}
