#pragma once

#include "KCKeychain.h"

#include <QList>

#include <sys/types.h>

// The system keychain as a root-only file, "<directory>/system-keychain.json": folder 0700, file
// 0600, written crash-safely after every change. The file belongs to the daemon; changes made
// to it behind the daemon's back while it runs are not read.
//
// A damaged file is never overwritten and never replaced by an empty one: starting afresh would
// make every account look as if its password were gone, and the daemon would sign those
// accounts out. Instead a copy is kept beside it ("<name>.damaged-<time>"), the damage is
// logged, and the keychain answers InvalidKeychain until the file is repaired, replaced or
// removed; the next call after that opens it normally.
class KCFileKeychain final : public KCKeychain {
public:
    static constexpr qint64 MaxFileSize = 8 * 1024 * 1024;

    explicit KCFileKeychain(const QString &directory);

    KCKeychainStatus open() override;
    KCKeychainStatus copyAccounts(const QString &service, QStringList *accounts) override;
    KCKeychainStatus addGenericPassword(const QString &service, const QString &account, const QString &password) override;
    KCKeychainStatus findGenericPassword(const QString &service, const QString &account, QString *password) override;
    KCKeychainStatus deleteGenericPassword(const QString &service, const QString &account) override;

    QString filePath() const { return m_path; }

private:
    struct Item {
        QString service;
        QString account;
        QString password;
    };
    // Enough to tell whether the file at the path is still the one already found damaged.
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 modifiedNanoseconds = 0;
        friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
    };
    enum class State { Closed, Open, Damaged };

    KCKeychainStatus load();
    KCKeychainStatus setDamaged(const FileIdentity &identity, const QString &reason, const QByteArray *content);
    QString keepCopy(const QByteArray &content, QString *error) const;
    KCKeychainStatus persist();
    qsizetype indexOf(const QString &service, const QString &account) const;

    QString m_path;
    QList<Item> m_items;
    State m_state = State::Closed;
    FileIdentity m_damagedIdentity;
    QString m_lastReadError;
    bool m_unsaved = false;
};
