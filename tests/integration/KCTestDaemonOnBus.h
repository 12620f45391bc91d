#pragma once

#include "KCDBusPolkitAuthority.h"
#include "KCDaemonHelperToolListener.h"
#include "KCDaemonHelperToolOperations.h"
#include "KCPrivateSystemBus.h"

#include <QStringList>

#include <memory>

// Operations that record what they were asked and answer with fixed values.
class KCRecordingOperations final : public KCDaemonHelperToolOperations {
public:
    QVariantMap getSettings() override;
    QString getVersion() override;
    AccountReply addKovraConnectAccount(const QString &account, const QString &password) override;
    AccountReply removeKovraConnectAccount(const QString &account) override;
    StatusReply queryPortMappingStatus() override;
    bool userSettingsChanged(const QVariantMap &settings) override;
    bool uninstall() override;

    // The status every status method answers with: nested dictionaries and numbers of several kinds.
    static QVariantMap status();

    QStringList calls;
    QVariantMap lastSettings;
};

// The daemon's bus service in this process, owning the daemon's name on a private bus, with the
// real polkit authority (answered by the fake one when a test starts it) and recording operations.
// Owning the name needs root.
class KCTestDaemonOnBus {
public:
    explicit KCTestDaemonOnBus(KCDaemonCallerCheck::Limits limits = {});

    // Starts the bus and, when asked, the fake polkit; then listens. False with the reason.
    bool start(bool withPolkit, QString *error);

    // Runs the bus client (tests/fakes) with these arguments, as the user when one is given.
    std::unique_ptr<KCChildProcess> startClient(const QStringList &arguments,
                                                const std::optional<KCTestUser> &user = std::nullopt);
    // Runs the client for one call and returns its answer line ("reply 1 ..." or "error 1 ...").
    QString callOnce(const QStringList &arguments, const std::optional<KCTestUser> &user = std::nullopt);

    KCPrivateSystemBus bus{};
    std::unique_ptr<KCChildProcess> polkit;
    QDBusConnection connection{QString()};
    std::unique_ptr<KCDBusPolkitAuthority> authority;
    KCRecordingOperations operations;
    std::unique_ptr<KCDaemonHelperToolListener> listener;

private:
    KCDaemonCallerCheck::Limits _limits;
};
