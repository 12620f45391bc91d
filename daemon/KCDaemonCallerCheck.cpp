#include "KCDaemonCallerCheck.h"

#include "KCLog.h"

#include <QDBusError>
#include <QDBusPendingCallWatcher>

const QString KCDaemonCallerCheck::ReadStatusAction = QStringLiteral("com.fendrel.kovra.connect.read-status");
const QString KCDaemonCallerCheck::ManageAction = QStringLiteral("com.fendrel.kovra.connect.manage");
const QString KCDaemonCallerCheck::UninstallAction = QStringLiteral("com.fendrel.kovra.connect.uninstall");

KCDaemonCallerCheck::KCDaemonCallerCheck(QDBusConnection bus, KCPolkitAuthority &polkit, QObject *parent)
    : KCDaemonCallerCheck(std::move(bus), polkit, Limits{}, parent)
{
}

KCDaemonCallerCheck::KCDaemonCallerCheck(QDBusConnection bus, KCPolkitAuthority &polkit, Limits limits, QObject *parent)
    : QObject(parent)
    , _bus(std::move(bus))
    , _polkit(polkit)
    , _limits(limits)
    , _callerWatcher(QString(), _bus, QDBusServiceWatcher::WatchForUnregistration)
{
    connect(&_callerWatcher, &QDBusServiceWatcher::serviceUnregistered, this, &KCDaemonCallerCheck::callerLeft);
}

KCDaemonCallerCheck::~KCDaemonCallerCheck()
{
    for (const auto &[id, pending] : _pending) {
        if (pending.polkitCheck)
            _polkit.cancelCheck(*pending.polkitCheck);
    }
}

QString KCDaemonCallerCheck::actionForMethod(const QString &method)
{
    static const std::map<QString, QString> actions{
        {QStringLiteral("getSettings"), ReadStatusAction},
        {QStringLiteral("getVersion"), ReadStatusAction},
        {QStringLiteral("queryPortMappingStatus"), ReadStatusAction},
        {QStringLiteral("addKovraConnectAccount"), ManageAction},
        {QStringLiteral("removeKovraConnectAccount"), ManageAction},
        {QStringLiteral("userSettingsChanged"), ManageAction},
        {QStringLiteral("uninstall"), UninstallAction},
    };
    const auto it = actions.find(method);
    return it == actions.end() ? QString() : it->second;
}

int KCDaemonCallerCheck::pendingChecks() const
{
    return static_cast<int>(_pending.size());
}

int KCDaemonCallerCheck::pendingChecks(const QString &caller) const
{
    const auto it = _pendingByCaller.find(caller);
    return it == _pendingByCaller.end() ? 0 : it->second;
}

void KCDaemonCallerCheck::refuse(const QDBusMessage &call, const QString &message)
{
    _bus.send(call.createErrorReply(QDBusError::AccessDenied, message));
}

void KCDaemonCallerCheck::refuseOverLimit(const QDBusMessage &call)
{
    _bus.send(call.createErrorReply(QDBusError::LimitsExceeded,
                                    QStringLiteral("Too many calls are waiting for authorization; try again later")));
}

void KCDaemonCallerCheck::check(const QDBusMessage &call, std::function<void()> authorised)
{
    call.setDelayedReply(true);
    const QString caller = call.service();
    const QString action = actionForMethod(call.member());
    if (caller.isEmpty() || action.isEmpty()) {
        refuse(call, QStringLiteral("%1 is not a method of the Kovra Connect daemon").arg(call.member()));
        return;
    }
    if (pendingChecks() >= _limits.pendingInAll || pendingChecks(caller) >= _limits.pendingPerCaller) {
        refuseOverLimit(call);
        return;
    }

    const PendingId id = ++_lastId;
    _pending.emplace(id, Pending{call, caller, action, std::move(authorised), std::nullopt, std::nullopt});
    if (++_pendingByCaller[caller] == 1)
        _callerWatcher.addWatchedService(caller);

    // The bus knows who is behind a unique name; a process id could have been reused since.
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixUser"));
    ask << caller;
    auto *watcher = new QDBusPendingCallWatcher(_bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id, watcher] {
        watcher->deleteLater();
        callerKnown(id, watcher->reply());
    });
}

void KCDaemonCallerCheck::callerKnown(PendingId id, const QDBusMessage &reply)
{
    const auto it = _pending.find(id);
    if (it == _pending.end())
        return;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        // Only a caller that is gone has no user; its call needs no answer.
        take(it);
        return;
    }
    const uint uid = reply.arguments().first().toUInt();
    if (uid == 0) {
        decide(id, {KCPolkitAuthority::Result::Authorized, {}});
        return;
    }
    int &pendingOfUser = _pendingByUser[uid];
    if (pendingOfUser >= _limits.pendingPerUser) {
        if (pendingOfUser == 0)
            _pendingByUser.erase(uid);
        refuseOverLimit(take(it).call);
        return;
    }
    ++pendingOfUser;
    Pending &pending = it->second;
    pending.uid = uid;
    pending.polkitCheck = _polkit.checkAuthorization(pending.caller, pending.action,
                                                     pending.call.isInteractiveAuthorizationAllowed(),
                                                     [this, id](const KCPolkitAuthority::Answer &answer) { decide(id, answer); });
}

KCDaemonCallerCheck::Pending KCDaemonCallerCheck::take(std::map<PendingId, Pending>::iterator it)
{
    Pending pending = std::move(it->second);
    _pending.erase(it);
    const auto count = _pendingByCaller.find(pending.caller);
    if (--count->second == 0) {
        _pendingByCaller.erase(count);
        _callerWatcher.removeWatchedService(pending.caller);
    }
    if (pending.uid) {
        const auto byUser = _pendingByUser.find(*pending.uid);
        if (--byUser->second == 0)
            _pendingByUser.erase(byUser);
    }
    return pending;
}

void KCDaemonCallerCheck::decide(PendingId id, const KCPolkitAuthority::Answer &answer)
{
    const auto it = _pending.find(id);
    if (it == _pending.end())
        return;
    const Pending pending = take(it);
    using Result = KCPolkitAuthority::Result;
    switch (answer.result) {
    case Result::Authorized:
        Q_EMIT callerAuthorized(pending.caller);
        pending.authorised();
        return;
    case Result::NotAuthorized:
        refuse(pending.call, QStringLiteral("Not authorized to %1 (polkit action %2)").arg(pending.call.member(), pending.action));
        return;
    case Result::Challenge:
        refuse(pending.call, QStringLiteral("Authentication is required to %1 (polkit action %2); call again allowing "
                                            "interactive authorization")
                                 .arg(pending.call.member(), pending.action));
        return;
    case Result::Error:
        qCWarning(lcKC).noquote() << QStringLiteral("Could not ask polkit about %1 for %2: %3")
                                         .arg(pending.action, pending.caller, answer.errorMessage);
        refuse(pending.call, QStringLiteral("Could not check the authorization to %1").arg(pending.call.member()));
        return;
    case Result::Unavailable:
        refuse(pending.call, QStringLiteral("Only root may %1 on a system without polkit").arg(pending.call.member()));
        return;
    }
}

void KCDaemonCallerCheck::callerLeft(const QString &caller)
{
    int dropped = 0;
    for (auto it = _pending.begin(); it != _pending.end();) {
        auto next = std::next(it);
        if (it->second.caller == caller) {
            const Pending pending = take(it);
            if (pending.polkitCheck)
                _polkit.cancelCheck(*pending.polkitCheck);
            ++dropped;
        }
        it = next;
    }
    if (dropped > 0)
        qCInfo(lcKC).noquote() << QStringLiteral("Dropped %1 call(s) of %2: it left the bus before it was authorized")
                                      .arg(dropped)
                                      .arg(caller);
}
