#pragma once

#include "KCDaemonEnvironment.h"
#include "KCDaemonSettings.h"
#include "KCDaemonVocabulary.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

// The daemon itself: builds its state at construction, in a fixed order, and then lives on the
// main event loop. Exactly one exists per process; making a second one stops the process.
class KCDaemonApplicationMain final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::hours RefreshStatusInterval{24};

    explicit KCDaemonApplicationMain(const KCDaemonEnvironment &environment, QObject *parent = nullptr);
    ~KCDaemonApplicationMain() override;

    // The one instance, once its construction has finished.
    static KCDaemonApplicationMain *instance();

    // Runs the main event loop; returns only when the loop is told to quit.
    int main();

    // Takes the previous product generation's service out of service and deletes its files.
    // Failures are logged or ignored, never fatal. True when the service manager removed the job.
    bool uninstallPreviousVersionIfNeeded();

    // A human-readable event for whoever watches the daemon.
    void logServiceEvent(const QString &event);

    KCDaemonSettings &settings() { return *_settings; }
    const QMap<QString, QString> &accountStatus() const { return _accountStatus; }
    QString portMappingStatus() const { return _portMappingStatus; }
    QString lastMappingStatus() const { return _lastMappingStatus; }
    qint64 sleepStatus() const { return _sleepStatus; }
    // The parameters of the last update the server accepted; none forces the next one out.
    const std::optional<QVariantMap> &lastSentDict() const { return _lastSentDict; }
    void setLastSentDict(const std::optional<QVariantMap> &parameters) { _lastSentDict = parameters; }

private:
    void readAccounts();
    void scheduleRefreshStatusTimer();
    void refreshStatusTimerFired();
    static void setTerminationHandler(void (*handler)(int));

    KCDaemonEnvironment _environment;
    QMap<QString, QString> _accountStatus;
    QString _portMappingStatus = KCDaemonStatusPortMappingInitializing;
    std::unique_ptr<KCDaemonSettings> _settings;
    qint64 _sleepStatus = 1;
    QString _lastMappingStatus = KCDaemonStatusLastMappingNotSet;
    std::optional<QVariantMap> _lastSentDict;
    std::unique_ptr<KCTimer> _refreshStatusTimer;
};
