#pragma once

#include "KCError.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>
#include <map>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// One open connection to the daemon: a private connection to the system bus with the call-back
// object exported on it. It reports when the daemon's name changes owner (the daemon stopped or
// was restarted) and when a call shows the connection is unusable; it is then closed, never
// repaired: the next request opens a new one.
class HelperToolSession final : public QObject {
    Q_OBJECT
public:
    static const QString ServiceName;

    // Opens the connection and exports the call-back object; isOpen() tells whether it worked.
    explicit HelperToolSession(QObject *callbackObject);
    ~HelperToolSession() override;

    bool isOpen() const { return _openError.domain.isEmpty(); }
    KCError openError() const { return _openError; }
    QString uniqueName() const { return _connection.baseService(); }

    // Sends a call on the open connection; exactly one of the handlers runs later, on this
    // thread, unless the session is destroyed first.
    using ReplyHandler = std::function<void(const QDBusMessage &reply)>;
    using ErrorHandler = std::function<void(const KCError &error)>;
    void call(QDBusMessage message, ReplyHandler reply, ErrorHandler error);

    // Fails every call still waiting with the reason, and lets go of the connection.
    void close(const KCError &reason);
    // Lets go of the connection and of every call still waiting, without running their handlers:
    // whoever made them is going away.
    void discard();

Q_SIGNALS:
    // The daemon went away or was replaced under this connection.
    void interrupted();
    // A call found the connection unusable: the daemon is not there or the bus dropped us.
    void invalidated(const KCError &error);

private:
    struct Pending {
        QDBusPendingCallWatcher *watcher;
        ReplyHandler reply;
        ErrorHandler error;
    };

    void answered(quint64 id);

    QString _name;
    QDBusConnection _connection;
    QDBusServiceWatcher *_daemonWatcher = nullptr;
    KCError _openError;
    quint64 _lastCall = 0;
    std::map<quint64, Pending> _pending;
};
