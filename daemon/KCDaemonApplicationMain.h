#pragma once

#include "KCDaemonEnvironment.h"
#include "KCDaemonHelperToolOperations.h"
#include "KCDaemonKCService.h"
#include "KCDaemonSettings.h"
#include "KCDaemonVocabulary.h"
#include "KCError.h"
#include "KCRequestParameters.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The daemon itself: builds its state at construction, in a fixed order, and then lives on the
// main event loop. Exactly one exists per process; making a second one stops the process.
//
// It keeps one port mapper per account, turns the mappers' results into the port-mapping status
// and the retry schedule, tells the account service how this machine is reached, describes the
// router, reacts to name, network and power changes and serves its clients' requests.
// Everything runs on the main thread.
class KCDaemonApplicationMain final : public QObject,
                                      public KCDaemonPortMapperDelegate,
                                      public KCDaemonSystemInformationDelegate,
                                      public KCDaemonHelperToolOperations {
    Q_OBJECT

public:
    static constexpr std::chrono::hours RefreshStatusInterval{24};
    static constexpr std::chrono::seconds UpdateRetryInterval{120};
    // A network change settles for this long before the mappings are made again.
    static constexpr std::chrono::seconds NetworkChangeRefreshDelay{5};
    static inline const QString BundleID = QStringLiteral("com.fendrel.Kovra-Connect");
    // Sleep and power-off wait at most this long for the daemon's last word to the account
    // service: well inside logind's own limit (InhibitDelayMaxSec, 5 seconds unless configured).
    static constexpr std::chrono::seconds PowerTransitionDelayLimit{3};
    // main()'s answer when the clients cannot reach the daemon.
    static constexpr int ListenFailureExitStatus = 1;

    explicit KCDaemonApplicationMain(const KCDaemonEnvironment &environment, QObject *parent = nullptr);
    ~KCDaemonApplicationMain() override;

    // The one instance, once its construction has finished.
    static KCDaemonApplicationMain *instance();

    // Runs the main event loop and returns its exit status when the loop is told to quit. When
    // start-up could not listen for clients, returns ListenFailureExitStatus at once instead.
    int main();
    bool isListening() const { return _listening; }

    // Takes the previous product generation's service out of service and deletes its files.
    // Failures are logged or ignored, never fatal. True when the service manager removed the job.
    bool uninstallPreviousVersionIfNeeded();

    // A human-readable event for the connected client.
    void logServiceEvent(const QString &event);

    // Port mapping.
    //
    // Drops every mapper and makes a new one for each stored account whose password can be read.
    void refreshAllPortMappings();
    // Closes and drops every mapper.
    void removeAllPortMappings();
    // A new record and mapper for the account, replacing any earlier one, and its first attempt.
    void createPortMapping(const QString &account);
    // Closes and drops the account's mapper and record, if it has one.
    void removePortMapping(const QString &account);
    // Seconds until the next retry of a failed mapping: 30, 60, 120, 240, then 300. Counts it.
    double nextPortMappingRetryDelay();
    // "Double NAT (-65558)"; "Unknown error: 12345 (12345)" for a code without a name.
    static QString humanReadableType(int32_t type);
    void portMapping(KCDaemonPortMapper *mapper, int32_t statusChanged, uint16_t externalPort, uint32_t externalAddress,
                     uint32_t interfaceIndex, uint32_t ttl) override;

    // The account service.
    //
    // Tells the service how every account's machine is reached, unless nothing changed since
    // the last update it accepted. A failed update is tried again after UpdateRetryInterval.
    // completed, when given, runs once: when the update's request has its answer (or failed), or
    // at once when no request goes out.
    void sendUpdateToServer(std::function<void()> completed = {});
    // Signs the machine out of the account where possible and forgets the account: its stored
    // password, status and mapping. False when the stored account could not be deleted.
    bool removeAccount(const QString &account);

    // The router.
    //
    // The gateway of the default IPv4 route, "" when there is none.
    QString currentRouterIPAddress() const;
    // "MAKER MODEL NUMBER,ROUTER,"; none when the diagnostics name neither maker nor model.
    std::optional<QString> routerInfoFromUPNPIGDDiscoveryDiagnostics(const QVariantMap &diagnostics) const;
    // Whether the description names the router this machine is behind now.
    bool routerInfoMatchesCurrentRouter(const QString &routerInfo) const;
    // Keeps the description of the diagnostics when it is new; the next update then goes out.
    void updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(const QVariantMap &diagnostics);
    // Describes the router from the mapper's diagnostics, discovering them first if it has none,
    // and posts them to the account service when sendToServer is set.
    void collectUPNPIGDDiscoveryDiagnosticsIfNeededForPortMapper(KCDaemonPortMapper *mapper, bool sendToServer);
    // Posts the diagnostics, unless the service already took the same ones.
    void sendUPNPIGDDiscoveryDiagnostics(const QVariantMap &diagnostics);

    // Names and network.
    void computerNameChanged(const QString &computerName) override;
    void computerLocalHostnameChanged(const QString &localHostname) override;
    void networkConfigurationChanged() override;
    // "localIPAddress", "router" and "primaryInterface", each only when known.
    QVariantMap currentNetworkConfigurationSignature() const;

    // The client.
    //
    // The status dictionary. Describing the router from the first mapper's diagnostics may
    // change the stored description on the way.
    QVariantMap status();
    void sendStatusToClient();

    // The clients' requests, for a caller already let in.
    QVariantMap getSettings() override;
    QString getVersion() override;
    AccountReply addKovraConnectAccount(const QString &account, const QString &password) override;
    AccountReply removeKovraConnectAccount(const QString &account) override;
    StatusReply queryPortMappingStatus() override;
    // Applies the change entry by entry, in a fixed order, skipping values of the wrong kind and
    // invalid ports, saves the settings and then refreshes the mappings or sends an update.
    bool userSettingsChanged(const QVariantMap &settings) override;
    // Signs out and removes every account, then deletes the daemon's executable and unit file as
    // our installer placed them; files the package manager owns are left to it. False at the
    // first file that cannot be deleted.
    bool uninstall() override;

    // Power.
    //
    // Registers for the system's power events (the lock that holds sleep and power-off back
    // until the daemon had its say); true when registered, now or before. The answer comes
    // later: a failure is logged then, and the next flag change tries again.
    bool registerForSystemPower();
    // Registers if needed, then holds the idle lock exactly while the flag is set.
    void setPreventSleepFlag(bool preventSleep);
    // The system is about to sleep, has woken, is about to stop. Sleep and power-off wait until
    // the update or the removal of the mappings went out, at most PowerTransitionDelayLimit.
    void willSleep();
    void didWake();
    void willPowerOff();

    KCDaemonSettings &settings() { return *_settings; }
    const QMap<QString, QString> &accountStatus() const { return _accountStatus; }
    void setAccountStatus(const QString &account, const QString &status) { _accountStatus.insert(account, status); }
    QString portMappingStatus() const { return _portMappingStatus; }
    QString lastMappingStatus() const { return _lastMappingStatus; }
    int32_t lastServiceErrorType() const { return _lastServiceErrorType; }
    quint64 portMappingRetryAttempt() const { return _portMappingRetryAttempt; }
    uint32_t interfaceIndex() const { return _interfaceIndex; }
    const std::map<QString, KCDaemonKCService> &kcServices() const { return _kcServices; }
    KCDaemonSystemInformation &systemInformation() { return *_systemInfo; }
    qint64 sleepStatus() const { return _sleepStatus; }
    void setSleepStatus(qint64 sleepStatus) { _sleepStatus = sleepStatus; }
    // The parameters of the last update the server accepted; none forces the next one out.
    const std::optional<KCRequestParameters> &lastSentDict() const { return _lastSentDict; }
    void setLastSentDict(const std::optional<KCRequestParameters> &parameters) { _lastSentDict = parameters; }
    const std::optional<KCRequestParameters> &lastSentIGDDiscoveryDiagnostics() const { return _lastSentIGDDiscoveryDiagnostics; }
    const QVariantMap &lastNetworkConfigurationSignature() const { return _lastNetworkConfigurationSignature; }

private:
    void readAccounts();
    void scheduleRefreshStatusTimer();
    void refreshStatusTimerFired();
    static void setTerminationHandler(void (*handler)(int));
    void listenForClients();

    // Power.
    void applyPreventSleepFlag();
    void noteSleepPrevented(bool prevented);
    // Keeps the system's sleep or power-off waiting for the work of one transition; the
    // transition's number lets only that transition's end release the lock.
    quint64 holdPowerTransition();
    void releasePowerTransition(quint64 transition);
    void forgetPowerTransition();

    // Port mapping.
    bool isAutomaticMode() const;
    QString statusForResult(int32_t result, uint16_t externalPort, uint32_t externalAddress) const;
    KCDaemonKCService *firstService();
    KCDaemonKCService *serviceForPortMapper(const KCDaemonPortMapper *mapper);
    void retirePortMapper(std::unique_ptr<KCDaemonPortMapper> mapper);

    // The account service.
    struct StoredPasswords;
    std::optional<StoredPasswords> readPasswordsForUpdate();
    KCRequestParameters updateParameters(const QStringList &accounts, const QStringList &passwords);
    void updateAnswered(const KCRequestParameters &sent, const QVariant &answer, const std::optional<KCError> &error);
    void sendServiceRequest(const QString &endpoint, const KCRequestParameters &parameters,
                            std::function<void(const QVariant &, const std::optional<KCError> &)> completion);
    QString macAddressWithoutColons() const;

    KCDaemonEnvironment _environment;
    QMap<QString, QString> _accountStatus;
    QString _portMappingStatus = KCDaemonStatusPortMappingInitializing;
    std::map<QString, KCDaemonKCService> _kcServices;
    std::unique_ptr<KCDaemonSystemInformation> _systemInfo;
    std::unique_ptr<KCDaemonSettings> _settings;
    int32_t _lastServiceErrorType = 0;
    quint64 _portMappingRetryAttempt = 0;
    uint32_t _interfaceIndex = 0;
    qint64 _sleepStatus = 1;
    QString _lastMappingStatus = KCDaemonStatusLastMappingNotSet;
    std::optional<KCRequestParameters> _lastSentDict;
    std::optional<KCRequestParameters> _lastSentIGDDiscoveryDiagnostics;
    QVariantMap _lastNetworkConfigurationSignature;
    std::unique_ptr<KCTimer> _refreshStatusTimer;
    // The one pending delayed refresh of the mappings: a mapping retry or a network change.
    std::unique_ptr<KCTimer> _delayedRefreshTimer;
    // The one pending retry of a failed update.
    std::unique_ptr<KCTimer> _updateRetryTimer;
    bool _listening = false;
    // The prevent-sleep flag as last set, and whether the idle lock was last reported held.
    bool _preventSleepFlag = false;
    bool _sleepPrevented = false;
    bool _powerRegistered = false;
    bool _powerRegistering = false;
    // The sleep or power-off waiting for the daemon, if any, and the bound on that wait.
    quint64 _powerTransition = 0;
    bool _powerTransitionHeld = false;
    std::unique_ptr<KCTimer> _powerTransitionTimer;
    // Mappers already closed, kept until control returns to the event loop: a mapper may be
    // dropped while its own result is being handled, and must not be destroyed under its feet.
    std::vector<std::unique_ptr<KCDaemonPortMapper>> _retiredPortMappers;
};
