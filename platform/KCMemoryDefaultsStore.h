#pragma once

#include "KCDefaultsStore.h"

// A store that lives in memory only: for tests, and for a client's settings when nothing needs
// to survive the process.
class KCMemoryDefaultsStore final : public KCDefaultsStore {
public:
    void registerDefaults(const QVariantMap &defaults) override;
    QVariant objectForKey(const QString &key) const override;
    bool setObject(const QVariant &value, const QString &key) override;
    bool removeObject(const QString &key) override;

    // What a test inspects: the stored values, without the fallbacks.
    const QVariantMap &storedValues() const { return m_values; }
    // Makes every later write report that it did not reach the disk, as a full disk would.
    void setFailWrites(bool fail) { m_failWrites = fail; }

private:
    QVariantMap m_defaults;
    QVariantMap m_values;
    bool m_failWrites = false;
};
