#pragma once

#include "KCPolkitAuthority.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>

#include <functional>
#include <map>
#include <optional>

// Decides, at the top of every method of the daemon's interface, whether its caller may run it:
// root always may; anyone else needs polkit's yes for the method's action; without polkit on the
// bus only root may. The decision takes bus round trips (and, with interaction allowed, as long as
// an administrator takes to answer a prompt), so the call's reply is delayed and nothing blocks:
// other callers are answered meanwhile.
//
// Memory stays bounded whatever callers do: each caller (connection) may have only so many calls
// waiting for a decision, each user only so many across their connections, and all callers
// together only so many; calls beyond that are refused at once with LimitsExceeded. The per-user
// bound is below the overall one, so one user holding prompts open cannot lock the others out.
// Calls of a caller that leaves the bus before the decision are dropped.
class KCDaemonCallerCheck : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int pendingPerCaller = 8;
        int pendingPerUser = 16;
        int pendingInAll = 64;
    };

    static const QString ReadStatusAction;
    static const QString ManageAction;
    static const QString UninstallAction;

    KCDaemonCallerCheck(QDBusConnection bus, KCPolkitAuthority &polkit, QObject *parent = nullptr);
    KCDaemonCallerCheck(QDBusConnection bus, KCPolkitAuthority &polkit, Limits limits, QObject *parent = nullptr);
    ~KCDaemonCallerCheck() override;

    // The polkit action that guards a method of the daemon's interface; empty for any other name.
    static QString actionForMethod(const QString &method);

    // Marks the call's reply as delayed and decides about its caller. A refused call is answered
    // here with AccessDenied (or LimitsExceeded) and nothing else happens; an authorised one runs
    // `authorised` later on this thread, which sends the reply. callerAuthorized() comes first.
    void check(const QDBusMessage &call, std::function<void()> authorised);

    // Calls waiting for a decision, in all and of one caller.
    int pendingChecks() const;
    int pendingChecks(const QString &caller) const;

Q_SIGNALS:
    // A caller was let in, just before its call runs.
    void callerAuthorized(const QString &uniqueName);

private:
    struct Pending {
        QDBusMessage call;
        QString caller;
        QString action;
        std::function<void()> authorised;
        std::optional<KCPolkitAuthority::CheckId> polkitCheck;
        std::optional<uint> uid;
    };
    using PendingId = quint64;

    void callerKnown(PendingId id, const QDBusMessage &reply);
    void decide(PendingId id, const KCPolkitAuthority::Answer &answer);
    Pending take(std::map<PendingId, Pending>::iterator it);
    void callerLeft(const QString &caller);
    void refuse(const QDBusMessage &call, const QString &message);
    void refuseOverLimit(const QDBusMessage &call);

    QDBusConnection _bus;
    KCPolkitAuthority &_polkit;
    Limits _limits;
    QDBusServiceWatcher _callerWatcher;
    PendingId _lastId = 0;
    std::map<PendingId, Pending> _pending;
    std::map<QString, int> _pendingByCaller;
    std::map<uint, int> _pendingByUser;
};
