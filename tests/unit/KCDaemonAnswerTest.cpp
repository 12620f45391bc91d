#include "KCDaemonOrchestrationSupport.h"

#include "KCHTTPUtils.h"
#include "KCURLError.h"

#include <QTcpServer>

using namespace std::chrono_literals;

namespace {

const QString Alice = QStringLiteral("alice");
const QString Bob = QStringLiteral("bob");

struct AccountError {
    QString account;
    qint64 code;
    QString failureReason;
};

struct AnswerCase {
    const char *name;
    KCFakeResponse response;
    // Statuses the answer gives; none when the answer is a failure that is retried.
    std::optional<std::pair<QString, QString>> statuses;
    QList<AccountError> errors;
    // For failures: the error the client hears of.
    QString errorDomain;
    qint64 errorCode = 0;
    bool serviceDown = false;
    std::chrono::milliseconds transferTimeout{KCHTTPDefaultTransferTimeoutMilliseconds};
};

void PrintTo(const AnswerCase &c, std::ostream *os)
{
    *os << c.name;
}

AnswerCase answered(const char *name, const QByteArray &json, const QString &alice, const QString &bob, QList<AccountError> errors = {})
{
    return {name, KCFakeResponse::json(json), std::make_pair(alice, bob), errors, {}, 0};
}

AnswerCase failed(const char *name, const KCFakeResponse &response, const QString &domain, qint64 code)
{
    return {name, response, std::nullopt, {}, domain, code};
}

AnswerCase refused()
{
    AnswerCase c = failed("service down", KCFakeResponse::json("{}"), KCURLErrorDomain, KCURLErrorCannotConnectToHost);
    c.serviceDown = true;
    return c;
}

AnswerCase tooSlow()
{
    AnswerCase c = failed("slower than the time-out", KCFakeResponse::withFault(KCFakeResponse::Fault::NeverAnswer), KCURLErrorDomain,
                          KCURLErrorTimedOut);
    c.transferTimeout = 300ms;
    return c;
}

const QString NotFound = KCDaemonStatusAccountNotFound;

const AnswerCase answerCases[] = {
    answered("each account its own code", R"({"alice":0,"bob":20})", KCDaemonStatusAccountUpdated, KCDaemonStatusAccountPasswordMismatch,
             {{Bob, 20, QStringLiteral("Wrong password")}}),
    answered("unverified and unregistered", R"({"alice":25,"bob":29})", KCDaemonStatusAccountUnverified, KCDaemonStatusAccountUnregistered,
             {{Alice, 25, QStringLiteral("Kovra Account unverified")}, {Bob, 29, QStringLiteral("Computer Unregistered")}}),
    answered("a code without a meaning", R"({"alice":7,"bob":0})", NotFound, KCDaemonStatusAccountUpdated),
    answered("a JSON array", "[0,0]", NotFound, NotFound),
    answered("a dictionary without the accounts", R"({"carol":0})", NotFound, NotFound),
    answered("numbers as strings", R"({"alice":"0","bob":"20"})", NotFound, NotFound),
    answered("a fraction and a boolean", R"({"alice":0.5,"bob":true})", NotFound, NotFound),
    answered("a bare number", "0", NotFound, NotFound),
    answered("null for each", R"({"alice":null,"bob":null})", NotFound, NotFound),
    failed("an HTML page", KCFakeResponse::withContentType("<html><body>Welcome</body></html>", "text/html"), KCJSONErrorDomain,
           KCJSONErrorCorruptData),
    failed("an HTML error page", KCFakeResponse::withContentType("<html><body>Bad Gateway</body></html>", "text/html", 502),
           KCJSONErrorDomain, KCJSONErrorCorruptData),
    failed("an empty body", KCFakeResponse::json(""), KCJSONErrorDomain, KCJSONErrorCorruptData),
    failed("closed mid-body", KCFakeResponse::withFault(KCFakeResponse::Fault::CloseMidBody, R"({"alice":0,"bob":0})"), KCURLErrorDomain,
           KCURLErrorNetworkConnectionLost),
    failed("closed without an answer", KCFakeResponse::withFault(KCFakeResponse::Fault::CloseWithoutAnswer), KCURLErrorDomain,
           KCURLErrorNetworkConnectionLost),
    refused(),
    tooSlow(),
};

class KCDaemonAnswerTest : public KCDaemonFixture, public ::testing::WithParamInterface<AnswerCase> {
protected:
    static QString closedPortBaseURL()
    {
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        return QStringLiteral("http://127.0.0.1:%1/app/6.0").arg(port);
    }
};

} // namespace

TEST_P(KCDaemonAnswerTest, AnswerSetsTheStatusesOrIsRetriedOnceAfterTwoMinutes)
{
    const AnswerCase &c = GetParam();
    transferTimeout = c.transferTimeout;
    service.setResponse(UpdateEndpoint, c.response);
    if (c.serviceDown)
        KCHTTPUtils::setAccountServiceBaseURL(closedPortBaseURL());
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    mapEveryAccount();
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountUpdating);
    ASSERT_TRUE(waitForUpdateAnswers(1));

    if (c.statuses) {
        EXPECT_EQ(daemon->accountStatus().value(Alice), c.statuses->first);
        EXPECT_EQ(daemon->accountStatus().value(Bob), c.statuses->second);
        ASSERT_EQ(client.accountErrors.size(), c.errors.size());
        for (qsizetype i = 0; i < c.errors.size(); ++i) {
            EXPECT_EQ(client.accountErrors[i].first, c.errors[i].account);
            EXPECT_EQ(client.accountErrors[i].second, KCError::withFailureReason(KCDaemonErrorDomain, c.errors[i].code, c.errors[i].failureReason));
            EXPECT_EQ(client.eventCount(QStringLiteral("Update error: ") + client.accountErrors[i].second.localizedDescription()), 1);
        }
        EXPECT_TRUE(client.updateErrors.isEmpty());
        EXPECT_TRUE(daemon->lastSentDict());
        EXPECT_EQ(client.statuses.last().value(KCDaemonStatusAccounts).toMap().value(Alice), c.statuses->first);
        // Whatever the service said, the accounts stay.
        EXPECT_EQ(daemon->accountStatus().keys(), QStringList({Alice, Bob}));
        timers.advance(10min);
        EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 1);
        return;
    }

    ASSERT_EQ(client.updateErrors.size(), 1);
    EXPECT_EQ(client.updateErrors.first().first.domain, c.errorDomain);
    EXPECT_EQ(client.updateErrors.first().first.code, c.errorCode) << client.updateErrors.first().first.localizedDescription().toStdString();
    EXPECT_EQ(client.eventCount(QStringLiteral("Failed to send update to server.")), 1);
    EXPECT_EQ(log.count(QStringLiteral("Failed to update with the Kovra Connect server. Retrying in 120.0 seconds")), 1);
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountUpdating);
    EXPECT_EQ(daemon->accountStatus().value(Bob), KCDaemonStatusAccountUpdating);
    EXPECT_FALSE(daemon->lastSentDict());
    EXPECT_TRUE(client.accountErrors.isEmpty());

    // The service is back; the retry goes out once, two minutes after the failure.
    service.setResponse(UpdateEndpoint, KCFakeResponse::accountStatuses(0));
    KCHTTPUtils::setAccountServiceBaseURL(service.baseURL());
    timers.advance(120s - 1ms);
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 1);
    timers.advance(1ms);
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 2);
    ASSERT_TRUE(waitForUpdateAnswers(2));
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountUpdated);
    EXPECT_EQ(daemon->accountStatus().value(Bob), KCDaemonStatusAccountUpdated);
    timers.advance(10min);
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 2);
}

INSTANTIATE_TEST_SUITE_P(Answers, KCDaemonAnswerTest, ::testing::ValuesIn(answerCases), caseName<AnswerCase>);

class KCDaemonRetryTest : public KCDaemonFixture {};

TEST_F(KCDaemonRetryTest, AnotherUpdateCancelsThePendingRetry)
{
    service.setResponse(UpdateEndpoint, KCFakeResponse::json(""));
    startWith({{Alice, QStringLiteral("pw-a")}});
    mapEveryAccount();
    ASSERT_TRUE(waitForUpdateAnswers(1));
    ASSERT_EQ(client.updateErrors.size(), 1);

    service.setResponse(UpdateEndpoint, KCFakeResponse::accountStatuses(0));
    timers.advance(60s);
    daemon->sendUpdateToServer();
    ASSERT_TRUE(waitForUpdateAnswers(2));
    // The retry that was pending would have gone out now.
    timers.advance(60s);
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending update: ")), 2);
    EXPECT_EQ(updates().size(), 2);
}
