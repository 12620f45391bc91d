#include "KCSystemdServiceManager.h"

#include <QDBusMessage>

namespace {
// A stuck service manager must not hold up the daemon's start for long.
constexpr int CallTimeoutMilliseconds = 10000;
} // namespace

KCSystemdServiceManager::KCSystemdServiceManager(const QDBusConnection &bus)
    : m_bus(bus)
{
}

bool KCSystemdServiceManager::call(const QString &method, const QVariantList &arguments)
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.systemd1"),
                                                          QStringLiteral("/org/freedesktop/systemd1"),
                                                          QStringLiteral("org.freedesktop.systemd1.Manager"), method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, CallTimeoutMilliseconds).type() == QDBusMessage::ReplyMessage;
}

bool KCSystemdServiceManager::removeJob(const QString &unitName)
{
    // Both are asked even when the first fails: a unit that is not running may still be enabled.
    const bool stopped = call(QStringLiteral("StopUnit"), {unitName, QStringLiteral("replace")});
    const bool disabled = call(QStringLiteral("DisableUnitFiles"), {QStringList{unitName}, false});
    return stopped && disabled;
}
