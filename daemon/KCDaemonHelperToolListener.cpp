#include "KCDaemonHelperToolListener.h"

KCDaemonHelperToolListener::KCDaemonHelperToolListener(QDBusConnection bus, KCPolkitAuthority &polkit,
                                                       KCDaemonHelperToolOperations &operations, QObject *parent)
    : KCDaemonHelperToolListener(std::move(bus), polkit, operations, KCDaemonCallerCheck::Limits{}, parent)
{
}

KCDaemonHelperToolListener::KCDaemonHelperToolListener(QDBusConnection bus, KCPolkitAuthority &polkit,
                                                       KCDaemonHelperToolOperations &operations,
                                                       KCDaemonCallerCheck::Limits limits, QObject *parent)
    : QObject(parent)
    , _callerCheck(bus, polkit, limits)
    , _clients(bus)
    , _service(bus, _callerCheck, operations)
    , _callbacks(bus, _clients)
{
    connect(&_callerCheck, &KCDaemonCallerCheck::callerAuthorized, &_clients, &KCDaemonClientTracker::accept);
}
