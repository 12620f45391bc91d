#include "KCMemoryDefaultsStore.h"

void KCMemoryDefaultsStore::registerDefaults(const QVariantMap &defaults)
{
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_defaults.insert(it.key(), KCValue::normalized(it.value()));
}

QVariant KCMemoryDefaultsStore::objectForKey(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it != m_values.constEnd())
        return it.value();
    return m_defaults.value(key);
}

bool KCMemoryDefaultsStore::setObject(const QVariant &value, const QString &key)
{
    if (!value.isValid())
        return removeObject(key);
    m_values.insert(key, KCValue::normalized(value));
    return !m_failWrites;
}

bool KCMemoryDefaultsStore::removeObject(const QString &key)
{
    m_values.remove(key);
    return !m_failWrites;
}
