#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QVariantMap>

#include <functional>

class KCDaemonCallerCheck;
class KCDaemonHelperToolOperations;

// The daemon's object on the bus (/com/fendrel/kovra/connect, interface
// com.fendrel.kovra.connect.HelperToolServer through the adaptor generated from its
// introspection). Every method first refuses oversized input, then lets the caller check decide,
// and only then runs the operation; the reply goes out when the operation answered.
class KCDaemonHelperToolService : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    static const QString ServiceName;
    static const QString ObjectPath;
    // Account names and passwords longer than this are refused before anything else.
    static constexpr qsizetype MaxStringLength = 64 * 1024;
    // Likewise a settings change larger than this as a whole (roughly counted).
    static constexpr qint64 MaxSettingsSize = 1024 * 1024;

    KCDaemonHelperToolService(QDBusConnection bus, KCDaemonCallerCheck &callerCheck,
                              KCDaemonHelperToolOperations &operations, QObject *parent = nullptr);

    // Serves the object and takes the daemon's bus name; false, with the bus's reason, when
    // either cannot be done (another daemon runs, or the policy does not let this user own it).
    bool listen(QString *error);

    // The interface's methods, as the adaptor calls them. Their return values are never sent:
    // every reply is delayed until the caller was checked.
    QVariantMap getSettings();
    QString getVersion();
    bool addKovraConnectAccount(const QString &account, const QString &password, QString &storedAccount);
    bool removeKovraConnectAccount(const QString &account, QString &removedAccount);
    bool queryPortMappingStatus(QVariantMap &status);
    bool userSettingsChanged(const QVariantMap &settings);
    bool uninstall();

private:
    bool refuseOversized(const QString &what, bool oversized);
    void checkThenRun(std::function<QVariantList()> operation);

    QDBusConnection _bus;
    KCDaemonCallerCheck &_callerCheck;
    KCDaemonHelperToolOperations &_operations;
};
