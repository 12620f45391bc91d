#include "KCDaemonHelperToolService.h"

#include "KCDBusValue.h"
#include "KCDaemonCallerCheck.h"
#include "KCDaemonHelperToolOperations.h"
#include "KCDaemonHelperToolServerAdaptor.h"

#include <QDBusConnectionInterface>
#include <QDBusError>

const QString KCDaemonHelperToolService::ServiceName = QStringLiteral("com.fendrel.kovra.connect");
const QString KCDaemonHelperToolService::ObjectPath = QStringLiteral("/com/fendrel/kovra/connect");

KCDaemonHelperToolService::KCDaemonHelperToolService(QDBusConnection bus, KCDaemonCallerCheck &callerCheck,
                                                     KCDaemonHelperToolOperations &operations, QObject *parent)
    : QObject(parent)
    , _bus(std::move(bus))
    , _callerCheck(callerCheck)
    , _operations(operations)
{
    new KCDaemonHelperToolServerAdaptor(this);
}

bool KCDaemonHelperToolService::listen(QString *error)
{
    if (!_bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors)) {
        *error = QStringLiteral("cannot serve %1: %2").arg(ObjectPath, _bus.lastError().message());
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        _bus.interface()->registerService(ServiceName, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = QStringLiteral("cannot own %1: %2")
                     .arg(ServiceName, reply.isValid() ? QStringLiteral("another process owns it") : reply.error().message());
        _bus.unregisterObject(ObjectPath);
        return false;
    }
    return true;
}

bool KCDaemonHelperToolService::refuseOversized(const QString &what, bool oversized)
{
    if (oversized)
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("The %1 is too long").arg(what));
    return oversized;
}

void KCDaemonHelperToolService::checkThenRun(std::function<QVariantList()> operation)
{
    const QDBusMessage call = message();
    _callerCheck.check(call, [this, call, operation = std::move(operation)] {
        _bus.send(call.createReply(operation()));
    });
}

QVariantMap KCDaemonHelperToolService::getSettings()
{
    checkThenRun([this] { return QVariantList{KCDBusValue::toDBus(_operations.getSettings())}; });
    return {};
}

QString KCDaemonHelperToolService::getVersion()
{
    checkThenRun([this] { return QVariantList{_operations.getVersion()}; });
    return {};
}

bool KCDaemonHelperToolService::addKovraConnectAccount(const QString &account, const QString &password, QString &)
{
    if (refuseOversized(QStringLiteral("account name"), account.size() > MaxStringLength)
        || refuseOversized(QStringLiteral("password"), password.size() > MaxStringLength))
        return false;
    checkThenRun([this, account, password] {
        const auto reply = _operations.addKovraConnectAccount(account, password);
        return QVariantList{reply.success, reply.account};
    });
    return false;
}

bool KCDaemonHelperToolService::removeKovraConnectAccount(const QString &account, QString &)
{
    if (refuseOversized(QStringLiteral("account name"), account.size() > MaxStringLength))
        return false;
    checkThenRun([this, account] {
        const auto reply = _operations.removeKovraConnectAccount(account);
        return QVariantList{reply.success, reply.account};
    });
    return false;
}

bool KCDaemonHelperToolService::queryPortMappingStatus(QVariantMap &)
{
    checkThenRun([this] {
        const auto reply = _operations.queryPortMappingStatus();
        return QVariantList{reply.success, KCDBusValue::toDBus(reply.status)};
    });
    return false;
}

bool KCDaemonHelperToolService::userSettingsChanged(const QVariantMap &settings)
{
    const QVariantMap change = KCDBusValue::fromDBus(settings);
    if (refuseOversized(QStringLiteral("settings change"), KCDBusValue::approximateSize(change) > MaxSettingsSize))
        return false;
    checkThenRun([this, change] { return QVariantList{_operations.userSettingsChanged(change)}; });
    return false;
}

bool KCDaemonHelperToolService::uninstall()
{
    checkThenRun([this] { return QVariantList{_operations.uninstall()}; });
    return false;
}
