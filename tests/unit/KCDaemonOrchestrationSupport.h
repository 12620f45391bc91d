#pragma once

#include "KCDaemonTestBed.h"
#include "KCFakeAccountService.h"
#include "KCLogCapture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

inline const QString UpdateEndpoint = QStringLiteral("/computer/update.php");
inline const QString SignOutEndpoint = QStringLiteral("/computer/signout.php");
inline const QString DiagnosticsEndpoint = QStringLiteral("/computer/igdStats_v2.php");

// A parameterised test's name from its case's name: letters and digits, the rest underscores.
template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case> &param)
{
    std::string name;
    for (const char c : std::string(param.param.name))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// A daemon under test with the fake account service on loopback as its account service.
class KCDaemonFixture : public ::testing::Test, public KCDaemonTestBed {
protected:
    void SetUp() override;
    void TearDown() override;

    // Stores the accounts (name, password) and starts the daemon.
    void startWith(const QList<std::pair<QString, QString>> &accounts);
    // Every account's mapper reports a good mapping of its local port to the public port.
    void mapEveryAccount(uint16_t externalPort = 40001, const QString &address = QStringLiteral("203.0.113.7"));
    // Runs the event loop until the condition holds or a generous deadline passes.
    static bool waitFor(const std::function<bool()> &condition);
    // Waits until the service has seen that many requests to the endpoint in all.
    bool waitForRequestsTo(const QString &endpoint, qsizetype count);
    // Waits until that many "Update sent" or "Failed to send update" events have arrived in all.
    bool waitForUpdateAnswers(int count);
    QList<KCFakeRecordedRequest> updates() const { return service.requests(UpdateEndpoint); }

    // Every log line, every service event and every error and status text the client got.
    QStringList everythingSaid() const;

    KCFakeAccountService service;
    KCLogCapture log;
    std::unique_ptr<KCDaemonApplicationMain> daemon;
};
