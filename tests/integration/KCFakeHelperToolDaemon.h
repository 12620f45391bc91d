#pragma once

#include "KCPrivateSystemBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>

// A stand-in for the daemon that a client test steers: it owns the daemon's name (which needs
// root), answers every method with fixed values, and can hold its replies, refuse every call or
// leave the bus as a stopped daemon would.
class KCFakeHelperToolDaemon final : public QDBusVirtualObject {
public:
    KCFakeHelperToolDaemon(KCPrivateSystemBus &bus, QString version);
    ~KCFakeHelperToolDaemon() override;

    bool start();
    void leave();

    // Held replies go out with answerHeld().
    bool holdReplies = false;
    void answerHeld();
    // When set, every call gets this error.
    QString refuseWith;

    QList<QDBusMessage> calls;

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void answer(const QDBusMessage &call);

    KCPrivateSystemBus &_bus;
    QString _version;
    QDBusConnection _connection{QString()};
    QList<QDBusMessage> _held;
};
