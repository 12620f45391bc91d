#include "HelperToolConnection.h"

#include "HelperToolSession.h"
#include "KCErrorDBus.h"
#include "KCLog.h"

#include <QPointer>
#include <QThread>

#include <chrono>

namespace {

QString describe(const KCError &error)
{
    return QStringLiteral("%1: %2").arg(error.domain, error.failureReason());
}

KCError connectionGone(const QString &why)
{
    return KCError::withFailureReason(QStringLiteral("org.freedesktop.DBus.Error.Disconnected"), 0, why);
}

} // namespace

HelperToolConnection::HelperToolConnection(QObject *parent)
    : HelperToolConnection(KCTimerSource::system(), parent)
{
}

HelperToolConnection::HelperToolConnection(KCTimerSource &timers, QObject *parent)
    : QObject(parent)
    , _timers(timers)
    , _callbacks(HelperToolCallbackReceiver::Handlers{
          [this](const QVariantMap &status) { portMappingStatusChanged(status); },
          [this](const QString &account, const KCError &error) { kovraIdError(account, error); },
          [this](const KCError &error, const QVariantMap &response) { updateError(error, response); },
          [this](const QString &message) { logServiceEvent(message); },
      })
    , _lastOpenError(connectionGone(QStringLiteral("not connected to the daemon")))
{
    KCRegisterErrorDBusType();
}

HelperToolConnection::~HelperToolConnection()
{
    // The handlers of calls still waiting belong to this object's users, who go with it.
    if (_helperToolConnection)
        _helperToolConnection->discard();
}

QString HelperToolConnection::uniqueName() const
{
    return _helperToolConnection ? _helperToolConnection->uniqueName() : QString();
}

void HelperToolConnection::connectToHelperTool()
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (_helperToolConnection)
        return;
    // Deleted later: a session is often given up from within one of its own signals.
    std::shared_ptr<HelperToolSession> session(new HelperToolSession(&_callbacks),
                                               [](HelperToolSession *s) { s->deleteLater(); });
    if (!session->isOpen()) {
        _lastOpenError = session->openError();
        return;
    }
    HelperToolSession *raw = session.get();
    connect(raw, &HelperToolSession::interrupted, this, [this, raw] {
        forget(raw, QStringLiteral("connection interrupted"), connectionGone(QStringLiteral("connection interrupted")));
    });
    connect(raw, &HelperToolSession::invalidated, this, [this, raw](const KCError &error) {
        forget(raw, QStringLiteral("connection invalidated"), error);
    });
    _helperToolConnection = std::move(session);
}

void HelperToolConnection::forget(HelperToolSession *session, const QString &logLine, const KCError &reason)
{
    if (_helperToolConnection.get() != session)
        return;
    const std::shared_ptr<HelperToolSession> forgotten = std::move(_helperToolConnection);
    qCInfo(lcKC).noquote() << logLine;
    forgotten->close(reason);
}

void HelperToolConnection::connectAndExecuteCommandBlock(const std::function<void()> &block)
{
    Q_ASSERT(QThread::currentThread() == thread());
    connectToHelperTool();
    block();
}

HelperToolServerProxy HelperToolConnection::remoteObjectProxyWithErrorHandler(HelperToolServerProxy::ErrorHandler handler)
{
    return HelperToolServerProxy(_helperToolConnection, _interactiveAuthorizationAllowed, _lastOpenError,
                                 std::move(handler));
}

void HelperToolConnection::retireTimeout(quint64 request)
{
    const auto it = _timeouts.find(request);
    if (it == _timeouts.end())
        return;
    // The timer may be the one whose call-back is running: it goes on the next turn of the loop.
    std::shared_ptr<KCTimer> timer(std::move(it->second));
    _timeouts.erase(it);
    timer->stop();
    QMetaObject::invokeMethod(this, [timer] {}, Qt::QueuedConnection);
}

void HelperToolConnection::performXPCRequestWithName(const QString &name, double timeout,
                                                     std::function<void()> onTimeout, Execution execution)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [this, name, timeout, onTimeout = std::move(onTimeout), execution = std::move(execution)] {
                performXPCRequestWithName(name, timeout, onTimeout, execution);
            },
            Qt::QueuedConnection);
        return;
    }
    connectAndExecuteCommandBlock([&] {
        const quint64 request = ++_lastRequest;
        const auto done = std::make_shared<bool>(false);
        const QPointer<HelperToolConnection> self(this);

        auto finished = [self, done, request] {
            if (*done)
                return;
            *done = true;
            if (self)
                self->retireTimeout(request);
        };
        auto failed = [self, done, request, name, onTimeout](const KCError &error) {
            if (*done)
                return;
            *done = true;
            if (self)
                self->retireTimeout(request);
            qCWarning(lcKC).noquote() << QStringLiteral("%1 - Helper tool error: %2").arg(name, describe(error));
            if (onTimeout)
                onTimeout();
        };
        if (timeout > 0) {
            auto timer = _timers.createTimer(KCTimerKind::SingleShot, [self, done, request, name, timeout, onTimeout] {
                if (self)
                    self->retireTimeout(request);
                if (*done)
                    return;
                *done = true;
                qCWarning(lcKC).noquote()
                    << QStringLiteral("%1 - timed out after %2 seconds").arg(name).arg(timeout, 0, 'f', 1);
                if (onTimeout)
                    onTimeout();
            });
            timer->start(std::chrono::milliseconds(static_cast<qint64>(timeout * 1000.0)));
            _timeouts.emplace(request, std::move(timer));
        }
        execution(remoteObjectProxyWithErrorHandler(failed), finished);
    });
}
