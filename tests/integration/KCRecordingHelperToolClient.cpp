#include "KCRecordingHelperToolClient.h"

#include <QtTest/QTest>

#include <algorithm>

#include <memory>

namespace {
constexpr int AnswerTimeoutMs = 30000;
} // namespace

template <typename Result>
std::optional<Result> KCRecordingHelperToolClient::ask(const std::function<void(const HelperToolServerProxy &, std::function<void(Result)>)> &request)
{
    auto outcome = std::make_shared<std::optional<std::optional<Result>>>();
    connectAndExecuteCommandBlock([&] {
        const HelperToolServerProxy proxy = remoteObjectProxyWithErrorHandler([this, outcome](const KCError &error) {
            lastError = error;
            *outcome = std::optional<Result>();
        });
        request(proxy, [outcome](Result result) { *outcome = std::optional<Result>(std::move(result)); });
    });
    if (!QTest::qWaitFor([&] { return outcome->has_value(); }, AnswerTimeoutMs))
        return std::nullopt;
    return **outcome;
}

std::optional<QString> KCRecordingHelperToolClient::getVersion()
{
    return ask<QString>([](const HelperToolServerProxy &proxy, std::function<void(QString)> done) {
        proxy.getVersion([done](const QString &version) { done(version); });
    });
}

std::optional<QVariantMap> KCRecordingHelperToolClient::getSettings()
{
    return ask<QVariantMap>([](const HelperToolServerProxy &proxy, std::function<void(QVariantMap)> done) {
        proxy.getSettings([done](const QVariantMap &status) { done(status); });
    });
}

std::optional<std::pair<bool, QString>> KCRecordingHelperToolClient::addKovraConnectAccount(const QString &account, const QString &password)
{
    return ask<std::pair<bool, QString>>([&](const HelperToolServerProxy &proxy, std::function<void(std::pair<bool, QString>)> done) {
        proxy.addKovraConnectAccount(account, password, [done](bool success, const QString &added) { done({success, added}); });
    });
}

std::optional<std::pair<bool, QString>> KCRecordingHelperToolClient::removeKovraConnectAccount(const QString &account)
{
    return ask<std::pair<bool, QString>>([&](const HelperToolServerProxy &proxy, std::function<void(std::pair<bool, QString>)> done) {
        proxy.removeKovraConnectAccount(account, [done](bool success, const QString &removed) { done({success, removed}); });
    });
}

std::optional<bool> KCRecordingHelperToolClient::userSettingsChanged(const QVariantMap &settings)
{
    return ask<bool>([&](const HelperToolServerProxy &proxy, std::function<void(bool)> done) {
        proxy.userSettingsChanged(settings, [done](bool success) { done(success); });
    });
}

std::optional<bool> KCRecordingHelperToolClient::uninstall()
{
    return ask<bool>([](const HelperToolServerProxy &proxy, std::function<void(bool)> done) {
        proxy.uninstall([done](bool success) { done(success); });
    });
}

bool KCRecordingHelperToolClient::waitForStatus(const std::function<bool(const QVariantMap &)> &condition, int timeoutMs)
{
    return QTest::qWaitFor([&] { return std::any_of(statuses.cbegin(), statuses.cend(), condition); }, timeoutMs);
}

bool KCRecordingHelperToolClient::waitForEvent(const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return std::any_of(events.cbegin(), events.cend(), [&](const QString &event) { return event.contains(text); }); },
                           timeoutMs);
}
