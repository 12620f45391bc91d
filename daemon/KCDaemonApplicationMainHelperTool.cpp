// The application object's answers to its clients' requests, for callers the bus service has
// already let in.

#include "KCDaemonApplicationMain.h"

#include "KCBuildInfo.h"
#include "KCDaemonKeychainAccess.h"
#include "KCDpkgDatabase.h"
#include "KCLog.h"

#include <QDir>
#include <QFile>

#include <filesystem>

QVariantMap KCDaemonApplicationMain::getSettings()
{
    return status();
}

QString KCDaemonApplicationMain::getVersion()
{
    return KCDaemonVersion;
}

KCDaemonApplicationMain::AccountReply KCDaemonApplicationMain::addKovraConnectAccount(const QString &account, const QString &password)
{
    if (!KCDaemonKeychainAccessAddAccount(*_environment.keychain, *_environment.store, account, password)) {
        qCWarning(lcKC).noquote() << QStringLiteral("Add KC Account failed");
        return {false, QString()};
    }
    _accountStatus.insert(account, KCDaemonStatusAccountUpdating);
    logServiceEvent(QStringLiteral("Added account (%1)").arg(account));
    createPortMapping(account);
    return {true, account};
}

KCDaemonApplicationMain::AccountReply KCDaemonApplicationMain::removeKovraConnectAccount(const QString &account)
{
    const bool removed = removeAccount(account);
    return {removed, removed ? account : QString()};
}

KCDaemonApplicationMain::StatusReply KCDaemonApplicationMain::queryPortMappingStatus()
{
    return {true, status()};
}

bool KCDaemonApplicationMain::uninstall()
{
    const QStringList accounts = KCDaemonKeychainAccessCopyAccountList(*_environment.keychain, *_environment.store);
    for (const QString &account : accounts)
        removeAccount(account);

    // What our own installer placed; the service manager unloads the unit, at the client's request.
    const QStringList installed{
        KCInstalledLibexecDirectory + QLatin1Char('/') + KCDaemonLabel,
        KCInstalledUnitDirectory + QLatin1Char('/') + KCDaemonLabel + QStringLiteral(".service"),
    };
    const KCDpkgDatabase packages(_environment.fileSystemRoot);
    for (const QString &file : installed) {
        const QString onDisk = QDir::cleanPath(_environment.fileSystemRoot + QLatin1Char('/') + file);
        const std::filesystem::path path(QFile::encodeName(onDisk).toStdString());
        std::error_code error;
        // A symbolic link counts as present and is removed itself, never what it points to.
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
            continue;
        // A packaged daemon is the package manager's to remove; for this request it is gone.
        if (packages.ownsPath(file)) {
            qCInfo(lcKC).noquote() << QStringLiteral("Leaving %1 to the package manager").arg(file);
            continue;
        }
        std::filesystem::remove(path, error);
        if (error) {
            qCWarning(lcKC).noquote() << QStringLiteral("Cannot remove %1: %2").arg(file, QString::fromStdString(error.message()));
            return false;
        }
    }
    return true;
}
