// The application object's status dictionary, as the client reads it and as it is pushed to the
// client after every change.

#include "KCDaemonApplicationMain.h"

#include "KCIPv4Address.h"

QVariantMap KCDaemonApplicationMain::status()
{
    if (_kcServices.empty()) {
        return {
            {KCDaemonStatusPortMapping, KCDaemonStatusNoAccounts},
            {KCDaemonStatusSettings, _settings->allSettings()},
            {KCDaemonSettingsUUID, _settings->UUID()},
        };
    }

    QVariantMap mappedPorts;
    QVariantMap customAddresses;
    QVariantMap accounts;
    for (auto it = _accountStatus.cbegin(); it != _accountStatus.cend(); ++it) {
        const QString &account = it.key();
        accounts.insert(account, it.value());
        const auto found = _kcServices.find(account);
        if (isAutomaticMode()) {
            const KCDaemonPortMapper *mapper = found != _kcServices.end() ? found->second.portMapper() : nullptr;
            mappedPorts.insert(account, qint64(mapper ? mapper->externalPort() : 0));
        } else if (found != _kcServices.end()) {
            mappedPorts.insert(account, _settings->customPort());
            customAddresses.insert(account, _settings->customAddress());
        }
    }

    const KCDaemonPortMapper *firstMapper = firstService()->portMapper();
    QVariantMap result{
        {KCDaemonStatusPortMapping, _portMappingStatus},
        {KCDaemonStatusSettings, _settings->allSettings()},
        {KCDaemonStatusAccounts, accounts},
        {KCDaemonStatusLastMappingStatus, _lastMappingStatus},
        {KCDaemonStatusExternalIPAddress, KCIPv4Address::toString(firstMapper ? firstMapper->externalAddress() : 0)},
        {KCDaemonStatusCustomAddresses, customAddresses},
        {KCDaemonStatusMappedPorts, mappedPorts},
        {KCDaemonSettingsUUID, _settings->UUID()},
    };

    const QVariantMap diagnostics = firstMapper ? firstMapper->upnpIGDDiscoveryDiagnostics() : QVariantMap();
    if (!diagnostics.isEmpty()) {
        updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(diagnostics);
        result.insert(KCDaemonStatusUPNPIGDDiscoveryDiagnostics, diagnostics);
        // The description may have changed just now.
        result.insert(KCDaemonStatusSettings, _settings->allSettings());
    }
    return result;
}

void KCDaemonApplicationMain::sendStatusToClient()
{
    _environment.client->portMappingStatusChanged(status());
}
