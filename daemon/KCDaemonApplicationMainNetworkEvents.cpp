// The application object's answers to the machine changing around it: new names go to the
// account service, a new network gets new port mappings once it has settled.

#include "KCDaemonApplicationMain.h"

#include "KCPropertyListDescription.h"

namespace {

const QString LocalIPAddressKey = QStringLiteral("localIPAddress");
const QString RouterKey = QStringLiteral("router");
const QString PrimaryInterfaceKey = QStringLiteral("primaryInterface");

} // namespace

void KCDaemonApplicationMain::computerNameChanged(const QString &)
{
    // The update carries the new name; it goes out only if something differs.
    sendUpdateToServer();
}

void KCDaemonApplicationMain::computerLocalHostnameChanged(const QString &)
{
    sendUpdateToServer();
}

QVariantMap KCDaemonApplicationMain::currentNetworkConfigurationSignature() const
{
    QVariantMap signature;
    const auto localAddress = KCDaemonSystemInformation::privateIPAddress(_systemInfo->sources());
    if (localAddress && !localAddress->isEmpty())
        signature.insert(LocalIPAddressKey, *localAddress);
    if (const auto state = _systemInfo->dynamicStore().globalIPv4State()) {
        if (!state->router.isEmpty())
            signature.insert(RouterKey, state->router);
        if (!state->primaryInterface.isEmpty())
            signature.insert(PrimaryInterfaceKey, state->primaryInterface);
    }
    return signature;
}

void KCDaemonApplicationMain::networkConfigurationChanged()
{
    const QVariantMap current = currentNetworkConfigurationSignature();
    // With no network at all nothing can be compared: every such notification refreshes.
    if (!current.isEmpty() && current == _lastNetworkConfigurationSignature) {
        logServiceEvent(QStringLiteral("Ignoring network change notification; IPv4 configuration is unchanged: %1")
                            .arg(KCPropertyListDescription::describe(current)));
        return;
    }
    logServiceEvent(QStringLiteral("Refreshing port mappings (network change) in %1 seconds: %2 -> %3")
                        .arg(QString::number(double(NetworkChangeRefreshDelay.count()), 'f', 0),
                             KCPropertyListDescription::describe(_lastNetworkConfigurationSignature),
                             KCPropertyListDescription::describe(current)));
    _lastNetworkConfigurationSignature = current;
    _portMappingRetryAttempt = 0;
    // Restarting the one delayed refresh pushes it back: changes in quick succession (an
    // interface coming up in steps) end in one refresh once the network has settled.
    _delayedRefreshTimer->start(NetworkChangeRefreshDelay);
}
