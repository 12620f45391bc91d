#pragma once

#include "KCDaemonClientCallbacks.h"

#include <QList>
#include <QStringList>

#include <utility>

// A connected client that records every call-back.
class KCFakeClientCallbacks final : public KCDaemonClientCallbacks {
public:
    void portMappingStatusChanged(const QVariantMap &status) override { statuses.append(status); }
    void kovraIdError(const QString &account, const KCError &error) override { accountErrors.append({account, error}); }
    void updateError(const KCError &error, const QVariant &response) override { updateErrors.append({error, response}); }
    void logServiceEvent(const QString &message) override { events.append(message); }

    int eventCount(const QString &text) const
    {
        int count = 0;
        for (const QString &event : events)
            count += event.contains(text) ? 1 : 0;
        return count;
    }
    void clear()
    {
        statuses.clear();
        accountErrors.clear();
        updateErrors.clear();
        events.clear();
    }

    QList<QVariantMap> statuses;
    QList<std::pair<QString, KCError>> accountErrors;
    QList<std::pair<KCError, QVariant>> updateErrors;
    QStringList events;
};
