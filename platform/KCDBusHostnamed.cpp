#include "KCDBusHostnamed.h"

#include "KCLog.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace {

const QString service = QStringLiteral("org.freedesktop.hostname1");
const QString path = QStringLiteral("/org/freedesktop/hostname1");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString prettyHostnameProperty = QStringLiteral("PrettyHostname");
// Covers the service being started on demand; a bus that takes longer is not answering.
constexpr int callTimeoutMs = 3000;

} // namespace

KCDBusHostnamed::KCDBusHostnamed(const QDBusConnection &bus, QObject *parent)
    : KCHostnamed(parent)
    , m_bus(bus)
{
    if (m_bus.isConnected())
        m_bus.connect(service, path, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

std::optional<QString> KCDBusHostnamed::prettyHostname()
{
    if (!m_bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    call << service << prettyHostnameProperty;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCDebug(lcKC).noquote() << QStringLiteral("No pretty host name from %1: %2").arg(service, reply.errorMessage());
        return std::nullopt;
    }
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.metaType().id() != QMetaType::QString)
        return std::nullopt;
    return value.toString().trimmed();
}

void KCDBusHostnamed::propertiesChanged(const QString &interfaceName, const QVariantMap &changed, const QStringList &invalidated)
{
    if (interfaceName == service && (changed.contains(prettyHostnameProperty) || invalidated.contains(prettyHostnameProperty)))
        Q_EMIT prettyHostnameChanged();
}
