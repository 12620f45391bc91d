#pragma once

#include "KCKeychain.h"

#include <QList>

// A keychain in memory whose failures a test chooses.
class KCFakeKeychain final : public KCKeychain {
public:
    struct Item {
        QString service;
        QString account;
        QString password;
    };

    KCKeychainStatus open() override { return openStatus; }
    KCKeychainStatus copyAccounts(const QString &service, QStringList *accounts) override;
    KCKeychainStatus addGenericPassword(const QString &service, const QString &account, const QString &password) override;
    KCKeychainStatus findGenericPassword(const QString &service, const QString &account, QString *password) override;
    KCKeychainStatus deleteGenericPassword(const QString &service, const QString &account) override;

    QList<Item> items;
    // What open() answers.
    KCKeychainStatus openStatus = KCKeychainStatusCode::Success;
    // When set, adding and deleting answer this and change nothing.
    KCKeychainStatus writeStatus = KCKeychainStatusCode::Success;
};
