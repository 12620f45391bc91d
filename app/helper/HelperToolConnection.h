#pragma once

#include "HelperToolCallbackReceiver.h"
#include "HelperToolServerProxy.h"
#include "KCError.h"
#include "KCTimerSource.h"

#include <QObject>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>

class HelperToolSession;

// The application's end of the link to the daemon (com.fendrel.kovra.connect on the system bus).
// The connection opens on the first request and is forgotten when the daemon's name goes away or
// changes owner (interrupted) or a call shows it unusable (invalidated), so the next request
// reaches a restarted daemon. The daemon's call-backs arrive, on the main thread, at the four
// handlers a subclass implements; the object they come through is exported on each connection.
class HelperToolConnection : public QObject {
    Q_OBJECT
public:
    explicit HelperToolConnection(QObject *parent = nullptr);
    // Time-outs are measured with the timers' clock.
    explicit HelperToolConnection(KCTimerSource &timers, QObject *parent = nullptr);
    ~HelperToolConnection() override;

    // A client that can answer an administrator prompt (a command-line client on a terminal)
    // lets the daemon's authorisation check ask for one.
    void setInteractiveAuthorizationAllowed(bool allowed) { _interactiveAuthorizationAllowed = allowed; }
    bool isInteractiveAuthorizationAllowed() const { return _interactiveAuthorizationAllowed; }

    // True while a connection is open; its unique name on the bus, else empty.
    bool isConnected() const { return _helperToolConnection != nullptr; }
    QString uniqueName() const;

    // Opens the connection if there is none. Main thread only.
    void connectToHelperTool();
    // Opens the connection if needed, then runs the block, which asks for a proxy itself.
    void connectAndExecuteCommandBlock(const std::function<void()> &block);
    // A proxy on the current connection; each of its failed calls runs the handler. Without a
    // connection (it could not be opened) every call fails with the reason.
    HelperToolServerProxy remoteObjectProxyWithErrorHandler(HelperToolServerProxy::ErrorHandler handler);

    // Sends a request with a time-out in seconds (0 or less: none). `execution` gets the proxy and
    // a `finished` function that its reply handler calls first. `onTimeout` (may be empty) runs at
    // most once: when the time-out passes or the call fails, never after `finished`. A reply that
    // comes after the time-out is still handled by its handler. From another thread the request
    // is posted to this object's thread and sent from there.
    using Execution = std::function<void(const HelperToolServerProxy &proxy, const std::function<void()> &finished)>;
    void performXPCRequestWithName(const QString &name, double timeout, std::function<void()> onTimeout,
                                   Execution execution);

protected:
    // The daemon's call-backs (com.fendrel.kovra.connect.HelpetToolClient).
    virtual void portMappingStatusChanged(const QVariantMap &status) = 0;
    virtual void kovraIdError(const QString &account, const KCError &error) = 0;
    virtual void updateError(const KCError &error, const QVariantMap &response) = 0;
    virtual void logServiceEvent(const QString &message) = 0;

private:
    void forget(HelperToolSession *session, const QString &logLine, const KCError &reason);
    void retireTimeout(quint64 request);

    KCTimerSource &_timers;
    HelperToolCallbackReceiver _callbacks;
    std::shared_ptr<HelperToolSession> _helperToolConnection;
    KCError _lastOpenError;
    bool _interactiveAuthorizationAllowed = false;
    quint64 _lastRequest = 0;
    std::map<quint64, std::unique_ptr<KCTimer>> _timeouts;
};
