#pragma once

#include "KCDaemonCallbackSender.h"
#include "KCDaemonCallerCheck.h"
#include "KCDaemonClientTracker.h"
#include "KCDaemonHelperToolService.h"
#include "KCDaemonListener.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

class KCDaemonHelperToolOperations;
class KCPolkitAuthority;

// Everything the daemon needs to be reached on the bus, put together: the caller check, the
// clients it accepts, the sender of call-backs to the current one and, once listening, the service
// object. The call-backs can be handed out before the daemon listens (they go nowhere until a
// client called), so the object that implements the operations can be built with them.
class KCDaemonHelperToolListener : public QObject, public KCDaemonListener {
    Q_OBJECT
public:
    explicit KCDaemonHelperToolListener(QDBusConnection bus, KCPolkitAuthority &polkit,
                                        KCDaemonCallerCheck::Limits limits = {}, QObject *parent = nullptr);
    ~KCDaemonHelperToolListener() override;

    // Serves the daemon's object with these operations behind it and takes the daemon's name;
    // false with the reason when it cannot. The operations must outlive this object.
    bool listen(KCDaemonHelperToolOperations &operations, QString *error) override;
    // The daemon's name and object and this connection's unique name.
    QString description() const override;

    KCDaemonCallbackSender &client() { return _callbacks; }
    KCDaemonClientTracker &clients() { return _clients; }
    KCDaemonCallerCheck &callerCheck() { return _callerCheck; }

private:
    QDBusConnection _bus;
    KCDaemonCallerCheck _callerCheck;
    KCDaemonClientTracker _clients;
    KCDaemonCallbackSender _callbacks;
    std::unique_ptr<KCDaemonHelperToolService> _service;
};
