// The application object's port mappers: one per account, made again on every refresh, and what
// their results mean for the port-mapping status, the retries and the server update.

#include "KCDaemonApplicationMain.h"

#include "KCDNSServiceError.h"
#include "KCDaemonKeychainAccess.h"
#include "KCIPv4Address.h"
#include "KCLog.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

const QString MiniUPnPcBackend = QStringLiteral("miniupnpc");
// Where the mapper keeps the public port it prefers, the one it had last.
const QString LastMappedPortKey = QStringLiteral("lastMappedPort");

constexpr double FirstRetryDelaySeconds = 30;
constexpr double LongestRetryDelaySeconds = 300;
constexpr quint64 RetryDoublingsAtMost = 10;

} // namespace

bool KCDaemonApplicationMain::isAutomaticMode() const
{
    return _settings->manualMode() == qint64(KCPortMappingMode::Automatic);
}

void KCDaemonApplicationMain::refreshAllPortMappings()
{
    removeAllPortMappings();
    const QStringList accounts = KCDaemonKeychainAccessCopyAccountList(*_environment.keychain, *_environment.store);
    for (const QString &account : accounts) {
        if (KCDaemonKeychainAccessCopyPassword(*_environment.keychain, account))
            createPortMapping(account);
    }
}

void KCDaemonApplicationMain::removeAllPortMappings()
{
    // Every record goes, not only those of the accounts still stored: a mapper whose account
    // left the store by another path would otherwise hold its router mapping for ever.
    QStringList accounts;
    for (const auto &[account, service] : _kcServices)
        accounts.append(account);
    for (const QString &account : std::as_const(accounts))
        removePortMapping(account);
}

void KCDaemonApplicationMain::removePortMapping(const QString &account)
{
    const auto found = _kcServices.find(account);
    if (found == _kcServices.end())
        return;
    std::unique_ptr<KCDaemonPortMapper> mapper = found->second.takePortMapper();
    _kcServices.erase(found);
    retirePortMapper(std::move(mapper));
}

void KCDaemonApplicationMain::retirePortMapper(std::unique_ptr<KCDaemonPortMapper> mapper)
{
    if (!mapper)
        return;
    mapper->close();
    const bool firstRetired = _retiredPortMappers.empty();
    _retiredPortMappers.push_back(std::move(mapper));
    if (firstRetired)
        QMetaObject::invokeMethod(this, [this] { _retiredPortMappers.clear(); }, Qt::QueuedConnection);
}

void KCDaemonApplicationMain::createPortMapping(const QString &account)
{
    KCDaemonKCService service;
    service.setStatus(KCDaemonStatusAccountDaemonInitializing);
    service.setUsername(account);
    service.setLocalPort(0);
    service.setPortMapper(_environment.portMapperFactory->createPortMapper(this));

    const quint16 localPort = _settings->useSSH() ? _systemInfo->sshListeningPort() : _systemInfo->vncListeningPort();
    if (isAutomaticMode())
        service.setLocalPort(localPort);

    // A record replaced here takes its mapper with it: close it rather than leave it to chance.
    removePortMapping(account);
    KCDaemonKCService &stored = _kcServices.emplace(account, std::move(service)).first->second;

    if (isAutomaticMode()) {
        qCInfo(lcKC).noquote() << QStringLiteral("Will map port: %1 for account %2 in auto mode").arg(QString::number(localPort), account);
        logServiceEvent(QStringLiteral("Applying port mapping for %1 to: %2 in auto mode").arg(account, QString::number(stored.localPort())));
    } else {
        qCInfo(lcKC).noquote() << QStringLiteral("Will fetch IP address in manual mode");
        logServiceEvent(QStringLiteral("Fetching external IP address (manual mode)"));
    }
    stored.portMapper()->tryMappingPort(stored.localPort());
}

double KCDaemonApplicationMain::nextPortMappingRetryDelay()
{
    const quint64 doublings = std::min(_portMappingRetryAttempt, RetryDoublingsAtMost);
    const double delay = std::min(FirstRetryDelaySeconds * std::pow(2.0, double(doublings)), LongestRetryDelaySeconds);
    ++_portMappingRetryAttempt;
    return delay;
}

QString KCDaemonApplicationMain::humanReadableType(int32_t type)
{
    QString name = KCDNSServiceError::name(type);
    if (name.isEmpty())
        name = QStringLiteral("Unknown error: %1").arg(type);
    return QStringLiteral("%1 (%2)").arg(name).arg(type);
}

QString KCDaemonApplicationMain::statusForResult(int32_t result, uint16_t externalPort, uint32_t externalAddress) const
{
    if (!isAutomaticMode())
        return externalAddress != 0 ? KCDaemonStatusPortMappingUsingManualSetting : KCDaemonStatusPortMappingMissingPublicIP;

    switch (result) {
    case KCDNSServiceError::NoError:
        if (externalPort == 0)
            return KCDaemonStatusPortMappingFailed;
        return externalAddress != 0 ? KCDaemonStatusPortMappingSuccessful : KCDaemonStatusPortMappingMissingPublicIP;
    case KCDNSServiceError::AlreadyRegistered:
        return externalPort != 0 ? KCDaemonStatusPortMappingSuccessful : KCDaemonStatusPortMappingAlreadyRegistered;
    case KCDNSServiceError::Unknown:
        return KCDaemonStatusPortMappingUnknownError;
    case KCDNSServiceError::NATTraversal:
        return KCDaemonStatusNATTraversal;
    case KCDNSServiceError::DoubleNAT:
        return KCDaemonStatusPortMappingDoubleNAT;
    case KCDNSServiceError::ServiceNotRunning:
        return KCDaemonStatusPortMappingServiceNotRunning;
    case KCDNSServiceError::NATPortMappingUnsupported:
        return KCDaemonStatusPortMappingUnavailable;
    case KCDNSServiceError::NATPortMappingDisabled:
        return KCDaemonStatusPortMappingDisabledOnRouter;
    case KCDNSServiceError::NoRouter:
        return KCDaemonStatusNoRouter;
    case KCDNSServiceError::Timeout:
        return KCDaemonStatusPortMappingTimeout;
    default:
        return KCDaemonStatusPortMappingSystemError;
    }
}

KCDaemonKCService *KCDaemonApplicationMain::firstService()
{
    return _kcServices.empty() ? nullptr : &_kcServices.begin()->second;
}

KCDaemonKCService *KCDaemonApplicationMain::serviceForPortMapper(const KCDaemonPortMapper *mapper)
{
    for (const QString &account : _accountStatus.keys()) {
        const auto found = _kcServices.find(account);
        if (found != _kcServices.end() && found->second.portMapper() == mapper)
            return &found->second;
    }
    return nullptr;
}

void KCDaemonApplicationMain::portMapping(KCDaemonPortMapper *mapper, int32_t statusChanged, uint16_t externalPort,
                                          uint32_t externalAddress, uint32_t interfaceIndex, uint32_t ttl)
{
    _delayedRefreshTimer->stop();
    _interfaceIndex = interfaceIndex;
    _lastServiceErrorType = statusChanged;

    const QString status = statusForResult(statusChanged, externalPort, externalAddress);
    _portMappingStatus = status;
    // The router holds a mapping for this machine already; the port it gave last time is the one.
    if (isAutomaticMode() && statusChanged == KCDNSServiceError::AlreadyRegistered && externalPort == 0)
        externalPort = quint16(std::clamp<qint64>(_environment.store->integerForKey(LastMappedPortKey), 0, 65535));

    if (KCDaemonKCService *service = serviceForPortMapper(mapper))
        service->setStatus(status);
    _lastMappingStatus = status;

    const QString backend = mapper->portMappingBackendName();
    if (status == KCDaemonStatusPortMappingSuccessful && backend == MiniUPnPcBackend)
        collectUPNPIGDDiscoveryDiagnosticsIfNeededForPortMapper(mapper, true);

    if (externalPort != 0 || !isAutomaticMode()) {
        _portMappingRetryAttempt = 0;
        logServiceEvent(QStringLiteral("Port %1 mapped using %2 to %3:%4 (%5), ttl: %6")
                            .arg(QString::number(mapper->internalPort()), backend, KCIPv4Address::toString(externalAddress),
                                 QString::number(externalPort), humanReadableType(statusChanged), QString::number(ttl)));
    } else {
        const double delay = nextPortMappingRetryDelay();
        logServiceEvent(QStringLiteral("Port mapping (%1) for port %2 failed with status %3 (ep: %4). Retrying in %5 seconds")
                            .arg(backend, QString::number(mapper->internalPort()), humanReadableType(statusChanged),
                                 QString::number(externalPort), QString::number(delay, 'f', 0)));
        _delayedRefreshTimer->start(std::chrono::milliseconds(qint64(delay * 1000)));
    }

    if (mapper->isWorking())
        return;
    const bool anyWorking = std::any_of(_kcServices.begin(), _kcServices.end(), [](const auto &entry) {
        return entry.second.portMapper() && entry.second.portMapper()->isWorking();
    });
    if (!anyWorking)
        sendUpdateToServer();
}
