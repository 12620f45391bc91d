#pragma once

#include "KCPolkitAuthority.h"

#include <QDBusConnection>
#include <QObject>

#include <map>

class QDBusPendingCallWatcher;

// polkit's authority on the system bus (org.freedesktop.PolicyKit1), asked without blocking: the
// answer comes back through the event loop, so one caller waiting on an administrator prompt
// never holds up the others.
class KCDBusPolkitAuthority final : public QObject, public KCPolkitAuthority {
    Q_OBJECT
public:
    explicit KCDBusPolkitAuthority(QDBusConnection bus, QObject *parent = nullptr);
    ~KCDBusPolkitAuthority() override;

    CheckId checkAuthorization(const QString &busName, const QString &actionId, bool allowInteraction,
                               Completion completion) override;
    void cancelCheck(CheckId check) override;

private:
    struct Pending {
        QDBusPendingCallWatcher *watcher = nullptr;
        QString cancellationId;
        Completion completion;
    };

    void answered(CheckId check);

    QDBusConnection _bus;
    CheckId _lastCheck = 0;
    std::map<CheckId, Pending> _pending;
};
