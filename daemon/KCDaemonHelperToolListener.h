#pragma once

#include "KCDaemonCallbackSender.h"
#include "KCDaemonCallerCheck.h"
#include "KCDaemonClientTracker.h"
#include "KCDaemonHelperToolService.h"

#include <QDBusConnection>
#include <QObject>

class KCDaemonHelperToolOperations;
class KCPolkitAuthority;

// Everything the daemon needs to be reached on the bus, put together: the service object and its
// caller check, the clients it accepts and the sender of call-backs to the current one.
class KCDaemonHelperToolListener : public QObject {
    Q_OBJECT
public:
    KCDaemonHelperToolListener(QDBusConnection bus, KCPolkitAuthority &polkit, KCDaemonHelperToolOperations &operations,
                               QObject *parent = nullptr);
    KCDaemonHelperToolListener(QDBusConnection bus, KCPolkitAuthority &polkit, KCDaemonHelperToolOperations &operations,
                               KCDaemonCallerCheck::Limits limits, QObject *parent = nullptr);

    // Serves the object and takes the daemon's name; false with the reason when it cannot.
    bool listen(QString *error) { return _service.listen(error); }

    KCDaemonCallbackSender &client() { return _callbacks; }
    KCDaemonClientTracker &clients() { return _clients; }
    KCDaemonCallerCheck &callerCheck() { return _callerCheck; }

private:
    KCDaemonCallerCheck _callerCheck;
    KCDaemonClientTracker _clients;
    KCDaemonHelperToolService _service;
    KCDaemonCallbackSender _callbacks;
};
