#include "KCDaemonApplicationMain.h"

#include "KCBuildInfo.h"
#include "KCDaemonKeychainAccess.h"
#include "KCDaemonVocabulary.h"
#include "KCLog.h"

#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <filesystem>
#include <unistd.h>

namespace {

KCDaemonApplicationMain *appInstance = nullptr;

// The service manager sends SIGTERM to stop the daemon. Nothing needs saving (settings are
// written as they change) and router mappings are meant to outlive a restart, so the process
// ends at once; _exit is safe inside a signal handler, unlike anything that logs or frees.
void terminateImmediately(int)
{
    ::_exit(0);
}

} // namespace

KCDaemonApplicationMain::KCDaemonApplicationMain(const KCDaemonEnvironment &environment, QObject *parent)
    : QObject(parent)
    , _environment(environment)
{
    if (appInstance)
        qFatal("appInstance == nil");

    uninstallPreviousVersionIfNeeded();

    _settings = std::make_unique<KCDaemonSettings>(*_environment.store, *_environment.hardwareIdentity);
    // The store then shows the settings in effect, fallbacks and corrections included.
    _settings->save();

    _powerTransitionTimer = _environment.timerSource->createTimer(KCTimerKind::SingleShot, [this] {
        qCInfo(lcKC).noquote() << QStringLiteral("Letting the system go on without waiting any longer for the account service");
        releasePowerTransition(_powerTransition);
    });
    registerForSystemPower();
    setPreventSleepFlag(_settings->preventSleep());

    _systemInfo = _environment.createSystemInformation(this);
    _lastNetworkConfigurationSignature = currentNetworkConfigurationSignature();

    connect(_environment.power, &KCSystemPower::willSleep, this, &KCDaemonApplicationMain::willSleep);
    connect(_environment.power, &KCSystemPower::didWake, this, &KCDaemonApplicationMain::didWake);
    connect(_environment.power, &KCSystemPower::willPowerOff, this, &KCDaemonApplicationMain::willPowerOff);

    _delayedRefreshTimer = _environment.timerSource->createTimer(KCTimerKind::SingleShot, [this] { refreshAllPortMappings(); });
    _updateRetryTimer = _environment.timerSource->createTimer(KCTimerKind::SingleShot, [this] { sendUpdateToServer(); });

    readAccounts();
    logServiceEvent(QStringLiteral("Refreshing port mappings (launch) ..."));
    refreshAllPortMappings();

    scheduleRefreshStatusTimer();
    setTerminationHandler(terminateImmediately);

    appInstance = this;
    listenForClients();
    sendStatusToClient();
}

KCDaemonApplicationMain::~KCDaemonApplicationMain()
{
    qCInfo(lcKC).noquote() << QStringLiteral("Cleaning Up");
    if (_refreshStatusTimer)
        _refreshStatusTimer->stop();
    _refreshStatusTimer.reset();
    _powerTransitionTimer.reset();
    _delayedRefreshTimer.reset();
    _updateRetryTimer.reset();
    // Each mapper removes its mapping from the router as it closes.
    for (auto &[account, service] : _kcServices) {
        if (KCDaemonPortMapper *mapper = service.portMapper())
            mapper->close();
    }
    _kcServices.clear();
    _retiredPortMappers.clear();
    setTerminationHandler(SIG_DFL);
    if (appInstance == this)
        appInstance = nullptr;
}

KCDaemonApplicationMain *KCDaemonApplicationMain::instance()
{
    return appInstance;
}

int KCDaemonApplicationMain::main()
{
    if (!_listening)
        return ListenFailureExitStatus;
    qCInfo(lcKC).noquote() << QStringLiteral("Listener: %1").arg(_environment.listener->description());
    return QCoreApplication::exec();
}

void KCDaemonApplicationMain::listenForClients()
{
    QString error;
    _listening = _environment.listener->listen(*this, &error);
    // The service manager counts the daemon as started once it holds its bus name, so a daemon
    // that cannot be reached says why and ends rather than run on unseen.
    if (!_listening)
        qCCritical(lcKC).noquote() << QStringLiteral("Cannot serve clients on the system bus: %1").arg(error);
}

bool KCDaemonApplicationMain::uninstallPreviousVersionIfNeeded()
{
    // A failure, typically because the old service was never installed, changes nothing here.
    const bool removed = _environment.serviceManager->removeJob(KCLegacyDaemonUnit);

    const QStringList legacyFiles{
        KCInstalledLibexecDirectory + QLatin1Char('/') + KCLegacyDaemonExecutable,
        KCInstalledUnitDirectory + QLatin1Char('/') + KCLegacyDaemonUnit,
    };
    for (const QString &legacyFile : legacyFiles) {
        const std::filesystem::path path(QFile::encodeName(QDir::cleanPath(_environment.fileSystemRoot + QLatin1Char('/') + legacyFile)).toStdString());
        std::error_code error;
        // A symbolic link counts as present and is removed itself, never what it points to.
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
            continue;
        std::filesystem::remove_all(path, error);
        if (error) {
            const QString description = QStringLiteral("Cannot remove %1: %2").arg(legacyFile, QString::fromStdString(error.message()));
            qCWarning(lcKC).noquote() << description;
        }
    }
    return removed;
}

void KCDaemonApplicationMain::logServiceEvent(const QString &event)
{
    // At debug priority in the journal, so an administrator can follow the events too
    // with journalctl -u com.fendrel.kovra.connect.
    qCDebug(lcKC).noquote() << event;
    _environment.client->logServiceEvent(event);
}

void KCDaemonApplicationMain::readAccounts()
{
    const QStringList accounts = KCDaemonKeychainAccessCopyAccountList(*_environment.keychain, *_environment.store);
    qCInfo(lcKC).noquote() << QStringLiteral("%1 accounts found. (%2)").arg(QString::number(accounts.size()), accounts.join(QStringLiteral(", ")));
    for (const QString &account : accounts)
        _accountStatus.insert(account, KCDaemonStatusAccountDaemonInitializing);
}

void KCDaemonApplicationMain::scheduleRefreshStatusTimer()
{
    _refreshStatusTimer = _environment.timerSource->createTimer(KCTimerKind::Repeating, [this] { refreshStatusTimerFired(); });
    _refreshStatusTimer->start(RefreshStatusInterval);
}

void KCDaemonApplicationMain::refreshStatusTimerFired()
{
    logServiceEvent(QStringLiteral("Refreshing status on server ..."));
    // With nothing to compare against, the update goes out even if nothing changed.
    _lastSentDict.reset();
    sendUpdateToServer();
}

void KCDaemonApplicationMain::setTerminationHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
