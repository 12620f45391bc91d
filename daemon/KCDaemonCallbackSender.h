#pragma once

#include "KCError.h"

#include <QDBusConnection>
#include <QVariantMap>

class KCDaemonClientTracker;

// The daemon's calls back to its current client (com.fendrel.kovra.connect.HelpetToolClient at
// /com/fendrel/kovra/connect/client on the client's connection). They expect no reply, so a slow
// or stuck client never holds the daemon up; with no client connected they are dropped.
class KCDaemonCallbackSender {
public:
    KCDaemonCallbackSender(QDBusConnection bus, const KCDaemonClientTracker &clients);

    void portMappingStatusChanged(const QVariantMap &status);
    void kovraIdError(const QString &account, const KCError &error);
    void updateError(const KCError &error, const QVariantMap &response);
    void logServiceEvent(const QString &message);

private:
    void send(const QString &member, const QVariantList &arguments);

    QDBusConnection _bus;
    const KCDaemonClientTracker &_clients;
};
