#pragma once

#include "KCDefaultsStore.h"
#include "KCKeychain.h"

#include <QStringList>

#include <optional>

// The daemon's accounts: each a generic-password item of one service in the system keychain,
// plus a list of the account names in the daemon's settings store. The list also remembers
// accounts the keychain could not take, so they are not forgotten.

inline const QString KCDaemonKeychainService = QStringLiteral("com.fendrel.kovra.connect.tool");
inline const QString KCDaemonKeychainAccountListKey = QStringLiteral("KCDaemonKeychainAccountList");

// The keychain's accounts in the keychain's order, then the names only the store's list knows.
// When the keychain cannot be opened, the store's names alone.
QStringList KCDaemonKeychainAccessCopyAccountList(KCKeychain &keychain, KCDefaultsStore &store);

// True when the keychain holds an item for the account afterwards; an existing item keeps its
// password. The name joins the store's list whatever the keychain answered.
bool KCDaemonKeychainAccessAddAccount(KCKeychain &keychain, KCDefaultsStore &store, const QString &account,
                                      const QString &password);

// True when the item was found and deleted. The name leaves the store's list whatever the
// keychain answered.
bool KCDaemonKeychainAccessRemoveAccount(KCKeychain &keychain, KCDefaultsStore &store, const QString &account);

// The account's password, or none. status, when given, receives the keychain's answer, so a
// caller can tell a missing item from a keychain that could not be opened.
std::optional<QString> KCDaemonKeychainAccessCopyPassword(KCKeychain &keychain, const QString &account,
                                                          KCKeychainStatus *status = nullptr);
