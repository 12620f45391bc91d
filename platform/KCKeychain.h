#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The system's credential store: generic-password items, each a service, an account and a
// password. Results are keychain status codes, so callers log the same numbers and texts
// whatever keeps the items.
using KCKeychainStatus = qint32;

namespace KCKeychainStatusCode {
inline constexpr KCKeychainStatus Success = 0;
// Writing failed (a full or read-only disk); changes are kept in memory for now.
inline constexpr KCKeychainStatus IOError = -36;
// The credential store cannot be read at all.
inline constexpr KCKeychainStatus NotAvailable = -25291;
// The credential file exists but is not a valid one; nothing is read from it or written to it.
inline constexpr KCKeychainStatus InvalidKeychain = -25295;
inline constexpr KCKeychainStatus DuplicateItem = -25299;
inline constexpr KCKeychainStatus ItemNotFound = -25300;
} // namespace KCKeychainStatusCode

class KCKeychain {
public:
    virtual ~KCKeychain() = default;

    // Makes the store ready; every other call first needs Success from this.
    virtual KCKeychainStatus open() = 0;

    // The accounts of every item of the service, in the order the items were added (none is
    // not an error).
    virtual KCKeychainStatus copyAccounts(const QString &service, QStringList *accounts) = 0;
    // DuplicateItem leaves an existing item, and its password, as they were.
    virtual KCKeychainStatus addGenericPassword(const QString &service, const QString &account, const QString &password) = 0;
    // Looks the item up; its password is copied only when password is given.
    virtual KCKeychainStatus findGenericPassword(const QString &service, const QString &account, QString *password) = 0;
    virtual KCKeychainStatus deleteGenericPassword(const QString &service, const QString &account) = 0;

    // The readable text for a status code, as logs show it.
    static QString messageForStatus(KCKeychainStatus status);
};
