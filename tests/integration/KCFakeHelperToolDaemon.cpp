#include "KCFakeHelperToolDaemon.h"

#include "KCDBusValue.h"
#include "KCTestDaemonOnBus.h"

KCFakeHelperToolDaemon::KCFakeHelperToolDaemon(KCPrivateSystemBus &bus, QString version)
    : _bus(bus)
    , _version(std::move(version))
{
}

KCFakeHelperToolDaemon::~KCFakeHelperToolDaemon()
{
    leave();
}

bool KCFakeHelperToolDaemon::start()
{
    _connection = _bus.connect();
    return _connection.registerVirtualObject(QStringLiteral("/com/fendrel/kovra/connect"), this)
        && _connection.registerService(QStringLiteral("com.fendrel.kovra.connect"));
}

void KCFakeHelperToolDaemon::leave()
{
    if (!_connection.isConnected())
        return;
    const QString name = _connection.name();
    _connection.unregisterObject(QStringLiteral("/com/fendrel/kovra/connect"));
    _connection = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(name);
}

QString KCFakeHelperToolDaemon::introspect(const QString &) const
{
    return {};
}

bool KCFakeHelperToolDaemon::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    calls.append(message);
    if (holdReplies)
        _held.append(message);
    else
        answer(message);
    return true;
}

void KCFakeHelperToolDaemon::answerHeld()
{
    const QList<QDBusMessage> held = std::exchange(_held, {});
    for (const QDBusMessage &call : held)
        answer(call);
}

void KCFakeHelperToolDaemon::answer(const QDBusMessage &call)
{
    if (!refuseWith.isEmpty()) {
        _connection.send(call.createErrorReply(refuseWith, QStringLiteral("refused by the test")));
        return;
    }
    const QString method = call.member();
    const QVariant status = KCDBusValue::toDBus(KCRecordingOperations::status());
    QVariantList reply;
    if (method == QLatin1String("getSettings"))
        reply = {status};
    else if (method == QLatin1String("getVersion"))
        reply = {_version};
    else if (method == QLatin1String("addKovraConnectAccount") || method == QLatin1String("removeKovraConnectAccount"))
        reply = {true, call.arguments().value(0)};
    else if (method == QLatin1String("queryPortMappingStatus"))
        reply = {true, status};
    else
        reply = {true};
    _connection.send(call.createReply(reply));
}
