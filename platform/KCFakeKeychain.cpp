#include "KCFakeKeychain.h"

KCKeychainStatus KCFakeKeychain::copyAccounts(const QString &service, QStringList *accounts)
{
    accounts->clear();
    for (const Item &item : std::as_const(items)) {
        if (item.service == service)
            accounts->append(item.account);
    }
    return KCKeychainStatusCode::Success;
}

KCKeychainStatus KCFakeKeychain::addGenericPassword(const QString &service, const QString &account, const QString &password)
{
    for (const Item &item : std::as_const(items)) {
        if (item.service == service && item.account == account)
            return KCKeychainStatusCode::DuplicateItem;
    }
    if (writeStatus != KCKeychainStatusCode::Success)
        return writeStatus;
    items.append(Item{service, account, password});
    return KCKeychainStatusCode::Success;
}

KCKeychainStatus KCFakeKeychain::findGenericPassword(const QString &service, const QString &account, QString *password)
{
    for (const Item &item : std::as_const(items)) {
        if (item.service == service && item.account == account) {
            if (password)
                *password = item.password;
            return KCKeychainStatusCode::Success;
        }
    }
    return KCKeychainStatusCode::ItemNotFound;
}

KCKeychainStatus KCFakeKeychain::deleteGenericPassword(const QString &service, const QString &account)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i).service == service && items.at(i).account == account) {
            if (writeStatus != KCKeychainStatusCode::Success)
                return writeStatus;
            items.removeAt(i);
            return KCKeychainStatusCode::Success;
        }
    }
    return KCKeychainStatusCode::ItemNotFound;
}
