#include "HelperToolServerProxy.h"

#include "HelperToolSession.h"
#include "KCDBusValue.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QTimer>

namespace {
const QString ServerPath = QStringLiteral("/com/fendrel/kovra/connect");
const QString ServerInterface = QStringLiteral("com.fendrel.kovra.connect.HelperToolServer");

QVariantMap mapArgument(const QVariantList &arguments, qsizetype index)
{
    return KCDBusValue::fromDBus(arguments.value(index)).toMap();
}
} // namespace

HelperToolServerProxy::HelperToolServerProxy(std::weak_ptr<HelperToolSession> session, bool interactive,
                                             KCError unavailable, ErrorHandler errorHandler)
    : _session(std::move(session))
    , _interactive(interactive)
    , _unavailable(std::move(unavailable))
    , _errorHandler(std::move(errorHandler))
{
}

void HelperToolServerProxy::call(const QString &method, const QVariantList &arguments,
                                 std::function<void(const QVariantList &)> reply) const
{
    const std::shared_ptr<HelperToolSession> session = _session.lock();
    if (!session) {
        // Like a call on a broken connection, this fails later, never within the call.
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [handler = _errorHandler, error = _unavailable] { handler(error); });
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(HelperToolSession::ServiceName, ServerPath, ServerInterface, method);
    message.setArguments(arguments);
    message.setInteractiveAuthorizationAllowed(_interactive);
    session->call(
        message, [reply = std::move(reply)](const QDBusMessage &answer) { reply(answer.arguments()); }, _errorHandler);
}

void HelperToolServerProxy::getSettings(std::function<void(const QVariantMap &status)> reply) const
{
    call(QStringLiteral("getSettings"), {}, [reply = std::move(reply)](const QVariantList &arguments) {
        reply(mapArgument(arguments, 0));
    });
}

void HelperToolServerProxy::getVersion(std::function<void(const QString &version)> reply) const
{
    call(QStringLiteral("getVersion"), {}, [reply = std::move(reply)](const QVariantList &arguments) {
        reply(arguments.value(0).toString());
    });
}

void HelperToolServerProxy::addKovraConnectAccount(const QString &account, const QString &password,
                                                   std::function<void(bool success, const QString &account)> reply) const
{
    call(QStringLiteral("addKovraConnectAccount"), {account, password},
         [reply = std::move(reply)](const QVariantList &arguments) {
             reply(arguments.value(0).toBool(), arguments.value(1).toString());
         });
}

void HelperToolServerProxy::removeKovraConnectAccount(const QString &account,
                                                      std::function<void(bool success, const QString &account)> reply) const
{
    call(QStringLiteral("removeKovraConnectAccount"), {account}, [reply = std::move(reply)](const QVariantList &arguments) {
        reply(arguments.value(0).toBool(), arguments.value(1).toString());
    });
}

void HelperToolServerProxy::queryPortMappingStatus(std::function<void(bool success, const QVariantMap &status)> reply) const
{
    call(QStringLiteral("queryPortMappingStatus"), {}, [reply = std::move(reply)](const QVariantList &arguments) {
        reply(arguments.value(0).toBool(), mapArgument(arguments, 1));
    });
}

void HelperToolServerProxy::userSettingsChanged(const QVariantMap &settings, std::function<void(bool success)> reply) const
{
    call(QStringLiteral("userSettingsChanged"), {KCDBusValue::toDBus(settings)},
         [reply = std::move(reply)](const QVariantList &arguments) { reply(arguments.value(0).toBool()); });
}

void HelperToolServerProxy::uninstall(std::function<void(bool success)> reply) const
{
    call(QStringLiteral("uninstall"), {}, [reply = std::move(reply)](const QVariantList &arguments) {
        reply(arguments.value(0).toBool());
    });
}
