#pragma once

#include "KCDefaultsStore.h"

// A defaults domain kept in "<directory>/<domain>.json". Every change is written through at once,
// crash-safely; the folder is 0700 and the file 0600. A file that cannot be read as a store is
// moved aside as "<domain>.json.damaged-<time>" and the store starts from its fallbacks. When a
// write fails (read-only or full disk) the old file stays as it was, the value stays in memory
// and the next successful write saves everything.
class KCJsonDefaultsStore final : public KCDefaultsStore {
public:
    // A store file bigger than this is not read: it counts as damaged.
    static constexpr qint64 MaxFileSize = 8 * 1024 * 1024;

    // The domain is a plain file name such as "com.fendrel.kovra.connect".
    KCJsonDefaultsStore(const QString &directory, const QString &domain);

    void registerDefaults(const QVariantMap &defaults) override;
    QVariant objectForKey(const QString &key) const override;
    bool setObject(const QVariant &value, const QString &key) override;
    bool removeObject(const QString &key) override;

    QString filePath() const { return m_path; }

private:
    void load();
    void setDamaged(const QString &reason);
    bool persist();

    QString m_path;
    QVariantMap m_defaults;
    QVariantMap m_values;
    // False when writing would destroy something we could not read or could not move aside.
    bool m_writable = true;
    // Memory holds changes that did not reach the disk.
    bool m_unsaved = false;
};
