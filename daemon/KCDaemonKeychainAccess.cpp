#include "KCDaemonKeychainAccess.h"

#include "KCLog.h"

namespace {

void logStatus(const QString &prefix, KCKeychainStatus status)
{
    // One pass of arg(): an account name holding "%1" must not be substituted again.
    qCWarning(lcKC).noquote() << QStringLiteral("%1 : %2 (%3)").arg(prefix, KCKeychain::messageForStatus(status), QString::number(status));
}

bool openKeychain(KCKeychain &keychain, KCKeychainStatus *status)
{
    *status = keychain.open();
    if (*status != KCKeychainStatusCode::Success) {
        logStatus(QStringLiteral("Unable to open system keychain"), *status);
        return false;
    }
    return true;
}

// The store's list as strings; anything else under the key counts as no list.
std::optional<QStringList> storedAccountList(const KCDefaultsStore &store)
{
    const QVariant value = store.objectForKey(KCDaemonKeychainAccountListKey);
    if (!KCValue::isList(value))
        return std::nullopt;
    QStringList names;
    for (const QVariant &name : value.toList()) {
        if (KCValue::isString(name))
            names.append(name.toString());
    }
    return names;
}

} // namespace

QStringList KCDaemonKeychainAccessCopyAccountList(KCKeychain &keychain, KCDefaultsStore &store)
{
    QStringList accounts;
    KCKeychainStatus status;
    if (openKeychain(keychain, &status)) {
        QStringList found;
        status = keychain.copyAccounts(KCDaemonKeychainService, &found);
        if (status != KCKeychainStatusCode::Success && status != KCKeychainStatusCode::ItemNotFound)
            logStatus(QStringLiteral("Unable to read system keychain"), status);
        for (const QString &account : std::as_const(found)) {
            if (!accounts.contains(account))
                accounts.append(account);
        }
    }
    for (const QString &account : storedAccountList(store).value_or(QStringList())) {
        if (!accounts.contains(account))
            accounts.append(account);
    }
    return accounts;
}

bool KCDaemonKeychainAccessAddAccount(KCKeychain &keychain, KCDefaultsStore &store, const QString &account,
                                      const QString &password)
{
    KCKeychainStatus status;
    bool added = false;
    if (openKeychain(keychain, &status)) {
        status = keychain.addGenericPassword(KCDaemonKeychainService, account, password);
        added = status == KCKeychainStatusCode::Success || status == KCKeychainStatusCode::DuplicateItem;
        if (!added)
            logStatus(QStringLiteral("Unable to add to system keychain"), status);
    }

    QStringList names = storedAccountList(store).value_or(QStringList());
    if (!names.contains(account)) {
        names.append(account);
        store.setObject(names, KCDaemonKeychainAccountListKey);
    }
    return added;
}

bool KCDaemonKeychainAccessRemoveAccount(KCKeychain &keychain, KCDefaultsStore &store, const QString &account)
{
    KCKeychainStatus status;
    const bool opened = openKeychain(keychain, &status);
    if (opened)
        status = keychain.findGenericPassword(KCDaemonKeychainService, account, nullptr);

    if (auto names = storedAccountList(store)) {
        if (names->removeAll(account) > 0)
            store.setObject(*names, KCDaemonKeychainAccountListKey);
    }

    if (!opened)
        return false;
    if (status != KCKeychainStatusCode::Success) {
        logStatus(QStringLiteral("Cannot find user"), status);
        return false;
    }
    status = keychain.deleteGenericPassword(KCDaemonKeychainService, account);
    if (status != KCKeychainStatusCode::Success) {
        logStatus(QStringLiteral("Cannot delete user"), status);
        return false;
    }
    return true;
}

std::optional<QString> KCDaemonKeychainAccessCopyPassword(KCKeychain &keychain, const QString &account,
                                                          KCKeychainStatus *status)
{
    KCKeychainStatus result;
    std::optional<QString> password;
    if (openKeychain(keychain, &result)) {
        QString found;
        result = keychain.findGenericPassword(KCDaemonKeychainService, account, &found);
        if (result == KCKeychainStatusCode::Success)
            password = found;
        else
            logStatus(QStringLiteral("Cannot find user ") + account, result);
    }
    if (status)
        *status = result;
    return password;
}
