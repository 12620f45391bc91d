#pragma once

#include "KCDaemonClientCallbacks.h"

// The client side of a daemon that no client can connect to yet: nobody is there to take status
// pushes, account errors or update errors, so they are dropped, as they are whenever no client
// is connected. The service events are written to the daemon's log, so whoever runs the daemon
// can still follow what it does.
class KCDaemonJournalClientCallbacks final : public KCDaemonClientCallbacks {
public:
    void portMappingStatusChanged(const QVariantMap &) override {}
    void kovraIdError(const QString &, const KCError &) override {}
    void updateError(const KCError &, const QVariant &) override {}
    void logServiceEvent(const QString &message) override;
};
