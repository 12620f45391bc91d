#pragma once

#include "HelperToolConnection.h"

#include <QList>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <utility>

// A client of the daemon as the applications are one: it records the call-backs it receives, and
// each request method sends one request and runs the event loop until its answer, which is none
// when the call failed (the error is kept in lastError).
class KCRecordingHelperToolClient final : public HelperToolConnection {
public:
    using HelperToolConnection::HelperToolConnection;

    std::optional<QString> getVersion();
    std::optional<QVariantMap> getSettings();
    std::optional<std::pair<bool, QString>> addKovraConnectAccount(const QString &account, const QString &password);
    std::optional<std::pair<bool, QString>> removeKovraConnectAccount(const QString &account);
    std::optional<bool> userSettingsChanged(const QVariantMap &settings);
    std::optional<bool> uninstall();

    // Runs the event loop until a status push satisfies the condition; false at the deadline.
    bool waitForStatus(const std::function<bool(const QVariantMap &)> &condition, int timeoutMs = 30000);
    bool waitForEvent(const QString &text, int timeoutMs = 30000);

    QList<QVariantMap> statuses;
    QStringList events;
    KCError lastError;

protected:
    void portMappingStatusChanged(const QVariantMap &status) override { statuses.append(status); }
    void kovraIdError(const QString &, const KCError &) override {}
    void updateError(const KCError &, const QVariantMap &) override {}
    void logServiceEvent(const QString &message) override { events.append(message); }

private:
    // Sends the request through a proxy and waits until it answered or failed.
    template <typename Result>
    std::optional<Result> ask(const std::function<void(const HelperToolServerProxy &, std::function<void(Result)>)> &request);
};
