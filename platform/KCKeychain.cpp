#include "KCKeychain.h"

QString KCKeychain::messageForStatus(KCKeychainStatus status)
{
    switch (status) {
    case KCKeychainStatusCode::Success:
        return QStringLiteral("No error.");
    case KCKeychainStatusCode::IOError:
        return QStringLiteral("I/O error.");
    case KCKeychainStatusCode::NotAvailable:
        return QStringLiteral("No keychain is available.");
    case KCKeychainStatusCode::InvalidKeychain:
        return QStringLiteral("The specified keychain is not a valid keychain file.");
    case KCKeychainStatusCode::DuplicateItem:
        return QStringLiteral("The specified item already exists in the keychain.");
    case KCKeychainStatusCode::ItemNotFound:
        return QStringLiteral("The specified item could not be found in the keychain.");
    default:
        return QStringLiteral("OSStatus %1").arg(status);
    }
}
