#pragma once

#include "KCDaemonClientCallbacks.h"

#include <QDBusConnection>

class KCDaemonClientTracker;

// The daemon's calls back to its current client (com.fendrel.kovra.connect.HelpetToolClient at
// /com/fendrel/kovra/connect/client on the client's connection). They expect no reply, so a slow
// or stuck client never holds the daemon up; with no client connected they are dropped.
class KCDaemonCallbackSender final : public KCDaemonClientCallbacks {
public:
    KCDaemonCallbackSender(QDBusConnection bus, const KCDaemonClientTracker &clients);

    void portMappingStatusChanged(const QVariantMap &status) override;
    void kovraIdError(const QString &account, const KCError &error) override;
    // The response travels as a dictionary: one the service answered as it is, nothing as an empty
    // one, and any other answer (a list, a number) under the key "response".
    void updateError(const KCError &error, const QVariant &response) override;
    void logServiceEvent(const QString &message) override;

private:
    void send(const QString &member, const QVariantList &arguments);

    QDBusConnection _bus;
    const KCDaemonClientTracker &_clients;
};
