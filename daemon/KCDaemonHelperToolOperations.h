#pragma once

#include <QString>
#include <QVariantMap>

// What the daemon does for each method of its bus interface once the caller has been let in.
// Each runs on the main thread and answers at once; the bus reply is sent from the answer.
class KCDaemonHelperToolOperations {
public:
    struct AccountReply {
        bool success = false;
        // The account name, empty for none.
        QString account;
    };
    struct StatusReply {
        bool success = false;
        QVariantMap status;
    };

    virtual ~KCDaemonHelperToolOperations() = default;

    // The full status dictionary; empty when there is none.
    virtual QVariantMap getSettings() = 0;
    virtual QString getVersion() = 0;
    virtual AccountReply addKovraConnectAccount(const QString &account, const QString &password) = 0;
    virtual AccountReply removeKovraConnectAccount(const QString &account) = 0;
    virtual StatusReply queryPortMappingStatus() = 0;
    virtual bool userSettingsChanged(const QVariantMap &settings) = 0;
    virtual bool uninstall() = 0;
};
