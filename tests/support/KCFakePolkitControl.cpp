#include "KCFakePolkitControl.h"

#include "KCDBusValue.h"

#include <QDBusMessage>

namespace {
QDBusMessage controlCall(const QString &member)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.PolicyKit1"),
                                          QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                                          QStringLiteral("com.fendrel.kovra.connect.test.FakePolkit"), member);
}
} // namespace

KCFakePolkitControl::KCFakePolkitControl(QDBusConnection bus)
    : _bus(std::move(bus))
{
}

bool KCFakePolkitControl::setAnswer(const QString &action, qint64 uid, const QString &verdict, uint delayMs)
{
    QDBusMessage call = controlCall(QStringLiteral("SetAnswer"));
    call << action << static_cast<int>(uid) << verdict << delayMs;
    return _bus.call(call).type() == QDBusMessage::ReplyMessage;
}

QVariantList KCFakePolkitControl::requests()
{
    const QDBusMessage reply = _bus.call(controlCall(QStringLiteral("Requests")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return KCDBusValue::fromDBus(reply.arguments().first()).toList();
}
