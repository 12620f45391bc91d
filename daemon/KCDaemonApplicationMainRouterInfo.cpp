// The application object's picture of the router: the one-line description kept in the settings
// and sent with every update, and the UPnP discovery diagnostics posted to the account service.

#include "KCDaemonApplicationMain.h"

#include "KCHTTPUtils.h"
#include "KCLog.h"
#include "KCPropertyListDescription.h"

#include <QPointer>

namespace {

const QString DiagnosticsEndpoint = QStringLiteral("/computer/igdStats_v2.php");

} // namespace

QString KCDaemonApplicationMain::currentRouterIPAddress() const
{
    const auto state = _systemInfo->dynamicStore().globalIPv4State();
    return state ? state->router.trimmed() : QString();
}

std::optional<QString> KCDaemonApplicationMain::routerInfoFromUPNPIGDDiscoveryDiagnostics(const QVariantMap &diagnostics) const
{
    if (diagnostics.isEmpty())
        return std::nullopt;
    QStringList parts;
    for (const char *key : {"manufacturer", "modelName", "modelNumber"}) {
        const QVariant value = diagnostics.value(QLatin1String(key));
        if (value.metaType().id() != QMetaType::QString)
            continue;
        const QString text = value.toString().trimmed();
        // Routers often repeat the model name as the number; it is said once.
        if (!text.isEmpty() && !parts.contains(text))
            parts.append(text);
    }
    if (parts.isEmpty())
        return std::nullopt;
    return QStringLiteral("%1,%2,").arg(parts.join(QLatin1Char(' ')), currentRouterIPAddress());
}

bool KCDaemonApplicationMain::routerInfoMatchesCurrentRouter(const QString &routerInfo) const
{
    if (routerInfo.isEmpty())
        return false;
    const QStringList parts = routerInfo.split(QLatin1Char(','));
    if (parts.size() < 2)
        return false;
    const QString address = parts[1].trimmed();
    return !address.isEmpty() && address == currentRouterIPAddress();
}

void KCDaemonApplicationMain::updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(const QVariantMap &diagnostics)
{
    const auto routerInfo = routerInfoFromUPNPIGDDiscoveryDiagnostics(diagnostics);
    if (!routerInfo || routerInfo->isEmpty() || *routerInfo == _settings->routerInfo())
        return;
    // Kept in memory until the settings are next saved; the service hears of it at once.
    _settings->setRouterInfo(*routerInfo);
    _lastSentDict.reset();
}

void KCDaemonApplicationMain::collectUPNPIGDDiscoveryDiagnosticsIfNeededForPortMapper(KCDaemonPortMapper *mapper, bool sendToServer)
{
    const QVariantMap held = mapper->upnpIGDDiscoveryDiagnostics();
    if (!held.isEmpty()) {
        updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(held);
        if (sendToServer)
            sendUPNPIGDDiscoveryDiagnostics(held);
        return;
    }
    // The discovery runs on the mapper's worker; the mapper may be gone by the time it ends, the
    // diagnostics still describe the router.
    QPointer<KCDaemonApplicationMain> self(this);
    mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion([self, sendToServer](const QVariantMap &diagnostics) {
        if (!self || diagnostics.isEmpty())
            return;
        const QString before = self->_settings->routerInfo();
        self->updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(diagnostics);
        self->sendStatusToClient();
        if (sendToServer)
            self->sendUPNPIGDDiscoveryDiagnostics(diagnostics);
        if (self->_settings->routerInfo() != before)
            self->sendUpdateToServer();
    });
}

void KCDaemonApplicationMain::sendUPNPIGDDiscoveryDiagnostics(const QVariantMap &diagnostics)
{
    if (diagnostics.isEmpty())
        return;
    KCRequestParameters parameters;
    const QVariantMap trimmed = KCHTTPUtils::trimmedRequestParameter(diagnostics).toMap();
    for (auto it = trimmed.cbegin(); it != trimmed.cend(); ++it)
        parameters.insert(it.key(), it.value());
    parameters.insert(QStringLiteral("UUID"), _settings->UUID());
    parameters.insert(QStringLiteral("bundleID"), BundleID);

    if (!KCHTTPUtils::isValidServerIdentityInParameters(parameters)) {
        logServiceEvent(QStringLiteral("Not sending UPnP IGD diagnostics because the server identity is invalid."));
        return;
    }
    if (_lastSentIGDDiscoveryDiagnostics && *_lastSentIGDDiscoveryDiagnostics == parameters)
        return;

    _lastSentIGDDiscoveryDiagnostics.reset();
    logServiceEvent(QStringLiteral("Sending UPnP IGD diagnostics: %1").arg(KCPropertyListDescription::describe(parameters)));
    sendServiceRequest(DiagnosticsEndpoint, parameters, [this, parameters](const QVariant &, const std::optional<KCError> &error) {
        if (!error) {
            _lastSentIGDDiscoveryDiagnostics = parameters;
            return;
        }
        qCWarning(lcKC).noquote() << QStringLiteral("Failed to send UPnP IGD diagnostics: %1").arg(error->localizedDescription());
        logServiceEvent(QStringLiteral("Failed to send UPnP IGD diagnostics."));
    });
}
