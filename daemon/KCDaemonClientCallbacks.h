#pragma once

#include "KCError.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

// What the daemon tells the connected client: status pushes, account and update errors, and
// human-readable service events. Nothing waits for the client; with no client connected the
// calls go nowhere.
class KCDaemonClientCallbacks {
public:
    virtual ~KCDaemonClientCallbacks() = default;
    virtual void portMappingStatusChanged(const QVariantMap &status) = 0;
    virtual void kovraIdError(const QString &account, const KCError &error) = 0;
    // response is what the service answered (a dictionary, a list, a number), or invalid when
    // nothing usable came back.
    virtual void updateError(const KCError &error, const QVariant &response) = 0;
    virtual void logServiceEvent(const QString &message) = 0;
};
