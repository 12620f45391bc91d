#include "HelperToolSession.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <atomic>
#include <vector>
#include <limits>

const QString HelperToolSession::ServiceName = QStringLiteral("com.fendrel.kovra.connect");

namespace {

const QString ClientPath = QStringLiteral("/com/fendrel/kovra/connect/client");

// Requests carry their own time-outs; the bus must not give up on a call first (an
// administrator prompt may take a while), so it waits as long as the daemon is there.
constexpr int NoBusTimeout = std::numeric_limits<int>::max();

KCError errorFrom(const QString &name, const QString &message)
{
    return KCError::withFailureReason(name, 0, message);
}

// Errors that say the connection is of no more use, as opposed to the daemon's own answers
// (refused, bad arguments, over the limits).
bool meansConnectionIsGone(const QString &errorName)
{
    static const QStringList names{
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
        QStringLiteral("org.freedesktop.DBus.Error.NoNetwork"),
    };
    return names.contains(errorName);
}

} // namespace

HelperToolSession::HelperToolSession(QObject *callbackObject)
    : _name(QStringLiteral("kc-helper-tool-%1").arg([] {
        static std::atomic<quint64> sessions{0};
        return ++sessions;
    }()))
    , _connection(QDBusConnection::connectToBus(QDBusConnection::SystemBus, _name))
{
    if (!_connection.isConnected()) {
        _openError = errorFrom(_connection.lastError().name(), _connection.lastError().message());
        return;
    }
    _connection.registerObject(ClientPath, callbackObject, QDBusConnection::ExportAdaptors);
    _daemonWatcher = new QDBusServiceWatcher(ServiceName, _connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(_daemonWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &oldOwner, const QString &) {
                // A daemon that starts while none ran changes nothing for us; one that stops or is
                // replaced is no longer the one this connection talked to.
                if (!oldOwner.isEmpty())
                    Q_EMIT interrupted();
            });
}

HelperToolSession::~HelperToolSession()
{
    discard();
}

void HelperToolSession::discard()
{
    for (auto &[id, pending] : _pending)
        delete pending.watcher;
    _pending.clear();
    if (_connection.isConnected())
        _connection.unregisterObject(ClientPath);
    if (_daemonWatcher) {
        // Often given up from within the watcher's own signal, which goes on to emit more.
        _daemonWatcher->disconnect(this);
        _daemonWatcher->deleteLater();
        _daemonWatcher = nullptr;
    }
    _connection = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(_name);
}

void HelperToolSession::call(QDBusMessage message, ReplyHandler reply, ErrorHandler error)
{
    const quint64 id = ++_lastCall;
    auto *watcher = new QDBusPendingCallWatcher(_connection.asyncCall(message, NoBusTimeout), this);
    _pending.emplace(id, Pending{watcher, std::move(reply), std::move(error)});
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id] { answered(id); });
}

void HelperToolSession::answered(quint64 id)
{
    const auto it = _pending.find(id);
    if (it == _pending.end())
        return;
    Pending pending = std::move(it->second);
    _pending.erase(it);
    pending.watcher->deleteLater();
    const QDBusMessage reply = pending.watcher->reply();
    if (reply.type() != QDBusMessage::ErrorMessage) {
        pending.reply(reply);
        return;
    }
    const KCError error = errorFrom(reply.errorName(), reply.errorMessage());
    if (meansConnectionIsGone(reply.errorName()))
        Q_EMIT invalidated(error);
    pending.error(error);
}

void HelperToolSession::close(const KCError &reason)
{
    std::vector<ErrorHandler> handlers;
    for (auto &[id, pending] : _pending)
        handlers.push_back(std::move(pending.error));
    discard();
    for (const ErrorHandler &handler : handlers)
        handler(reason);
}
