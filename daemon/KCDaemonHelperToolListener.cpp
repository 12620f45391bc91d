#include "KCDaemonHelperToolListener.h"

KCDaemonHelperToolListener::KCDaemonHelperToolListener(QDBusConnection bus, KCPolkitAuthority &polkit,
                                                       KCDaemonCallerCheck::Limits limits, QObject *parent)
    : QObject(parent)
    , _bus(bus)
    , _callerCheck(bus, polkit, limits)
    , _clients(bus)
    , _callbacks(bus, _clients)
{
    connect(&_callerCheck, &KCDaemonCallerCheck::callerAuthorized, &_clients, &KCDaemonClientTracker::accept);
}

KCDaemonHelperToolListener::~KCDaemonHelperToolListener() = default;

bool KCDaemonHelperToolListener::listen(KCDaemonHelperToolOperations &operations, QString *error)
{
    if (_service) {
        *error = QStringLiteral("already listening");
        return false;
    }
    auto service = std::make_unique<KCDaemonHelperToolService>(_bus, _callerCheck, operations);
    if (!service->listen(error))
        return false;
    _service = std::move(service);
    return true;
}

QString KCDaemonHelperToolListener::description() const
{
    return QStringLiteral("%1, object %2, on the system bus as %3")
        .arg(KCDaemonHelperToolService::ServiceName, KCDaemonHelperToolService::ObjectPath, _bus.baseService());
}
