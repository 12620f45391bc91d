#include "KCDaemonCallbackSender.h"

#include "KCDBusValue.h"
#include "KCDaemonClientTracker.h"
#include "KCErrorDBus.h"

#include <QDBusMessage>

namespace {
const QString ClientPath = QStringLiteral("/com/fendrel/kovra/connect/client");
const QString ClientInterface = QStringLiteral("com.fendrel.kovra.connect.HelpetToolClient");
} // namespace

KCDaemonCallbackSender::KCDaemonCallbackSender(QDBusConnection bus, const KCDaemonClientTracker &clients)
    : _bus(std::move(bus))
    , _clients(clients)
{
    KCRegisterErrorDBusType();
}

void KCDaemonCallbackSender::send(const QString &member, const QVariantList &arguments)
{
    const QString client = _clients.currentClient();
    if (client.isEmpty())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(client, ClientPath, ClientInterface, member);
    call.setArguments(arguments);
    // A client is a running program; the bus must never start one on the daemon's behalf.
    call.setAutoStartService(false);
    // send() marks a method call as expecting no reply.
    _bus.send(call);
}

void KCDaemonCallbackSender::portMappingStatusChanged(const QVariantMap &status)
{
    send(QStringLiteral("portMappingStatusChanged"), {KCDBusValue::toDBus(status)});
}

void KCDaemonCallbackSender::kovraIdError(const QString &account, const KCError &error)
{
    send(QStringLiteral("kovraIdError"), {account, QVariant::fromValue(error)});
}

void KCDaemonCallbackSender::updateError(const KCError &error, const QVariant &response)
{
    QVariantMap dictionary;
    if (response.metaType().id() == QMetaType::QVariantMap)
        dictionary = response.toMap();
    else if (response.isValid())
        dictionary.insert(QStringLiteral("response"), response);
    send(QStringLiteral("updateError"), {QVariant::fromValue(error), KCDBusValue::toDBus(dictionary)});
}

void KCDaemonCallbackSender::logServiceEvent(const QString &message)
{
    send(QStringLiteral("logServiceEvent"), {message});
}
