#pragma once

#include "KCServiceManager.h"

#include <QDBusConnection>

// systemd's manager on the given bus (the system bus in the daemon).
class KCSystemdServiceManager final : public KCServiceManager {
public:
    explicit KCSystemdServiceManager(const QDBusConnection &bus);
    bool removeJob(const QString &unitName) override;

private:
    bool call(const QString &method, const QVariantList &arguments);

    QDBusConnection m_bus;
};
