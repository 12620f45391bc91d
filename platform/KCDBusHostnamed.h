#pragma once

#include "KCHostnamed.h"

#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>

// systemd-hostnamed over D-Bus ("org.freedesktop.hostname1"). The service is started on demand
// by the bus and exits when idle; reading the name starts it again.
class KCDBusHostnamed final : public KCHostnamed {
    Q_OBJECT
public:
    explicit KCDBusHostnamed(const QDBusConnection &bus, QObject *parent = nullptr);

    std::optional<QString> prettyHostname() override;

private Q_SLOTS:
    void propertiesChanged(const QString &interfaceName, const QVariantMap &changed, const QStringList &invalidated);

private:
    QDBusConnection m_bus;
};
