#include "KCFakeAccountService.h"
#include "KCHTTPUtils.h"
#include "KCTestCertificates.h"
#include "KCURLError.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWaitMilliseconds = 20000;
const QString kUpdate = QStringLiteral("/computer/update.php");

struct Outcome {
    int calls = 0;
    QVariant reply;
    std::optional<KCError> error;
    bool onMainThread = false;
};

// Sends requests to a fake service and collects what reaches each completion.
class KCHTTPSenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.listen()); }

    static KCHTTPRequest requestFor(const QString &url, const KCRequestParameters &params = {{QStringLiteral("k"), 1}})
    {
        auto request = KCHTTPUtils::createPostURLRequest(url, params);
        EXPECT_TRUE(request);
        return request.value_or(KCHTTPRequest{});
    }

    static std::shared_ptr<Outcome> send(const std::optional<KCHTTPRequest> &request)
    {
        auto outcome = std::make_shared<Outcome>();
        KCHTTPUtils::sendAsynchronousRequest(request, [outcome](const QVariant &reply, const std::optional<KCError> &error) {
            ++outcome->calls;
            outcome->reply = reply;
            outcome->error = error;
            outcome->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        });
        return outcome;
    }

    static bool finished(const Outcome &outcome)
    {
        return QTest::qWaitFor([&] { return outcome.calls > 0; }, kWaitMilliseconds);
    }

    // Whatever a transfer might still do after its completion has happened by the time a later
    // request through the same sender has completed.
    void expectNoFurtherCompletion(const Outcome &outcome)
    {
        const auto sentinel = send(requestFor(service.url(QStringLiteral("/computer/igdStats_v2.php"))));
        ASSERT_TRUE(finished(*sentinel));
        EXPECT_EQ(outcome.calls, 1);
    }

    // The transfer ended with exactly this error, and only once.
    void expectFailure(const Outcome &outcome, const QString &domain, qint64 code)
    {
        ASSERT_TRUE(finished(outcome));
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain, domain);
        EXPECT_EQ(outcome.error->code, code) << qPrintable(outcome.error->localizedDescription());
        EXPECT_FALSE(outcome.reply.isValid());
        expectNoFurtherCompletion(outcome);
    }

    KCFakeAccountService service;
};

struct ReplyCase {
    const char *name;
    KCFakeResponse response;
    QVariant value; // expected when the reply parses
    std::optional<QString> errorDomain;
    qint64 errorCode;
};

ReplyCase parsed(const char *name, const KCFakeResponse &response, const QVariant &value)
{
    return {name, response, value, std::nullopt, 0};
}

ReplyCase failed(const char *name, const KCFakeResponse &response, const QString &domain, qint64 code)
{
    return {name, response, QVariant(), domain, code};
}

TEST_F(KCHTTPSenderTest, EveryKindOfReplyReachesTheCompletionOnce)
{
    const QByteArray megabyteString = '"' + QByteArray(KCHTTPMaximumReplyBodySize - 2, 'a') + '"';
    KCFakeResponse streamedOversize = KCFakeResponse::json(QByteArray(KCHTTPMaximumReplyBodySize + 1, ' '));
    streamedOversize.sendContentLength = false;
    KCFakeResponse closeDelimited = KCFakeResponse::json("[true]");
    closeDelimited.sendContentLength = false;
    KCFakeResponse delayed = KCFakeResponse::json("{\"late\":1}");
    delayed.delay = 200ms;
    KCFakeResponse redirect = KCFakeResponse::json("{\"moved\":true}", 302);
    redirect.headers = {{"Location", "/app/6.0/computer/signout.php"}};

    const ReplyCase cases[] = {
        parsed("JSON object", KCFakeResponse::json(R"({"a@b.c":0,"n":[1]})"),
               QVariantMap{{QStringLiteral("a@b.c"), 0}, {QStringLiteral("n"), QVariantList{1}}}),
        parsed("JSON array", KCFakeResponse::json("[1,\"x\"]"), QVariantList{1, QStringLiteral("x")}),
        parsed("bare number", KCFakeResponse::json("1"), QVariant(qint64(1))),
        parsed("bare string", KCFakeResponse::json("\"x\""), QVariant(QStringLiteral("x"))),
        parsed("JSON with status 500: the status is not looked at", KCFakeResponse::json("{\"statusCode\":99}", 500),
               QVariantMap{{QStringLiteral("statusCode"), 99}}),
        parsed("delayed answer", delayed, QVariantMap{{QStringLiteral("late"), 1}}),
        parsed("body ended by closing the connection", closeDelimited, QVariantList{true}),
        parsed("redirect is not followed", redirect, QVariantMap{{QStringLiteral("moved"), true}}),
        parsed("exactly the largest body allowed", KCFakeResponse::json(megabyteString),
               QString::fromLatin1(megabyteString.mid(1, megabyteString.size() - 2))),
        failed("empty body", KCFakeResponse::json(""), KCJSONErrorDomain, KCJSONErrorCorruptData),
        failed("HTML error page with status 500",
               KCFakeResponse::withContentType("<html><body>Internal Server Error</body></html>", "text/html", 500),
               KCJSONErrorDomain, KCJSONErrorCorruptData),
        failed("text that is not JSON", KCFakeResponse::withContentType("OK", "text/plain"), KCJSONErrorDomain,
               KCJSONErrorCorruptData),
        failed("two JSON values", KCFakeResponse::json("1,2"), KCJSONErrorDomain, KCJSONErrorCorruptData),
        failed("connection closed without an answer", KCFakeResponse::withFault(KCFakeResponse::Fault::CloseWithoutAnswer),
               KCURLErrorDomain, KCURLErrorNetworkConnectionLost),
        failed("connection closed mid-body", KCFakeResponse::withFault(KCFakeResponse::Fault::CloseMidBody, QByteArray(4096, '1')),
               KCURLErrorDomain, KCURLErrorNetworkConnectionLost),
        failed("announced body over the limit", KCFakeResponse::json(QByteArray(KCHTTPMaximumReplyBodySize + 1, ' ')),
               KCURLErrorDomain, KCURLErrorDataLengthExceedsMaximum),
        failed("streamed body over the limit", streamedOversize, KCURLErrorDomain, KCURLErrorDataLengthExceedsMaximum),
    };
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.name);
        service.setResponse(kUpdate, c.response);
        const auto outcome = send(requestFor(service.url(kUpdate)));
        if (c.errorDomain) {
            expectFailure(*outcome, *c.errorDomain, c.errorCode);
            continue;
        }
        ASSERT_TRUE(finished(*outcome));
        EXPECT_TRUE(outcome->onMainThread);
        EXPECT_FALSE(outcome->error) << qPrintable(outcome->error->localizedDescription());
        EXPECT_EQ(outcome->reply, c.value);
        expectNoFurtherCompletion(*outcome);
    }
    EXPECT_TRUE(service.requests(QStringLiteral("/computer/signout.php")).isEmpty()) << "the redirect was followed";
}

TEST_F(KCHTTPSenderTest, AServerThatNeverAnswersTimesOut)
{
    struct Case {
        const char *name;
        KCFakeResponse response;
    } const cases[] = {
        {"silence: the inactivity time-out", KCFakeResponse::withFault(KCFakeResponse::Fault::NeverAnswer)},
        {"a byte at a time: the overall deadline", KCFakeResponse::withFault(KCFakeResponse::Fault::Trickle, QByteArray(5000, ' '))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        service.setResponse(kUpdate, c.response);
        KCHTTPRequest request = requestFor(service.url(kUpdate));
        request.networkRequest.setTransferTimeout(300);
        const qsizetype before = service.requests().size();
        const auto outcome = send(request);
        ASSERT_TRUE(service.waitForRequests(before + 1)) << "the request must reach the server for its silence to count";
        expectFailure(*outcome, KCURLErrorDomain, KCURLErrorTimedOut);
    }
}

TEST_F(KCHTTPSenderTest, ARefusedConnectionIsReportedSoTheCallerCanRetry)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const auto outcome = send(requestFor(QStringLiteral("http://127.0.0.1:%1/app/6.0/computer/update.php").arg(closedPort)));
    expectFailure(*outcome, KCURLErrorDomain, KCURLErrorCannotConnectToHost);
}

TEST_F(KCHTTPSenderTest, RequestsThatCannotBeSentCompleteAtOnce)
{
    const auto none = send(std::nullopt);
    EXPECT_EQ(none->calls, 1);
    ASSERT_TRUE(none->error);
    EXPECT_EQ(none->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(none->error->code, -1000);

    const auto file = send(requestFor(QStringLiteral("file:///etc/hostname")));
    EXPECT_EQ(file->calls, 1);
    ASSERT_TRUE(file->error);
    EXPECT_EQ(file->error->code, KCURLErrorUnsupportedURL);
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST_F(KCHTTPSenderTest, TheServiceReceivesThePostExactlyAsBuilt)
{
    const KCRequestParameters params = {
        {QStringLiteral("kovraID"), QStringList{QStringLiteral("a@b.c"), QStringLiteral("d@e.f")}},
        {QStringLiteral("password"), QStringList{QStringLiteral("p+w 1"), QStringLiteral("x")}},
        {QStringLiteral("fb_uha"), QStringList{QStringLiteral("p+w 1"), QStringLiteral("x")}},
        {QStringLiteral("KCServicePort"),
         QVariant::fromValue(KCRequestParameters{{QStringLiteral("d@e.f"), 4000}, {QStringLiteral("a@b.c"), 0}})},
        {QStringLiteral("ComputerName"), KCHTTPUtils::escapeCharacters(QStringLiteral("Tom & Jerry+"))},
    };
    const KCHTTPRequest request = requestFor(service.url(kUpdate), params);
    const auto outcome = send(request);
    ASSERT_TRUE(finished(*outcome));
    EXPECT_EQ(outcome->reply, (QVariantMap{{QStringLiteral("a@b.c"), 0}, {QStringLiteral("d@e.f"), 0}}));

    ASSERT_EQ(service.requests().size(), 1);
    const KCFakeRecordedRequest received = service.requests().first();
    EXPECT_EQ(received.method, QStringLiteral("POST"));
    EXPECT_EQ(received.path, QStringLiteral("/app/6.0/computer/update.php"));
    EXPECT_EQ(received.header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(received.body, request.body);
    EXPECT_EQ(received.arrayField(QStringLiteral("kovraID")), (QStringList{QStringLiteral("a@b.c"), QStringLiteral("d@e.f")}));
    // A "+" reaches a standard form decoder as "%2b" in both encodings.
    EXPECT_EQ(received.arrayField(QStringLiteral("password")), (QStringList{QStringLiteral("p%2bw 1"), QStringLiteral("x")}));
    EXPECT_EQ(received.arrayField(QStringLiteral("fb_uha")), (QStringList{QStringLiteral("p%2bw 1"), QStringLiteral("x")}));
    EXPECT_EQ(received.dictionaryField(QStringLiteral("KCServicePort")),
              (QList<KCFakeRecordedRequest::Field>{{QStringLiteral("d@e.f"), QStringLiteral("4000")},
                                                   {QStringLiteral("a@b.c"), QStringLiteral("0")}}));
    EXPECT_EQ(received.field(QStringLiteral("ComputerName")), QStringLiteral("Tom%20%26%20Jerry%2b"));
}

TEST_F(KCHTTPSenderTest, CompletesOnTheMainThreadWhenSentFromAnother)
{
    const KCHTTPRequest request = requestFor(service.url(kUpdate));
    std::shared_ptr<Outcome> outcome;
    QThread *worker = QThread::create([&] { outcome = send(request); });
    worker->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker->isFinished(); }, kWaitMilliseconds));
    delete worker;
    ASSERT_TRUE(finished(*outcome));
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_FALSE(outcome->error);
}

// HTTPS against a server whose certificate a test authority signed.
class KCHTTPSenderTLSTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new QTemporaryDir;
        QString error;
        certificates = KCTestCertificates::generate(folder->path(), &error);
        ASSERT_TRUE(certificates) << qPrintable(error);
    }
    static void TearDownTestSuite()
    {
        delete folder;
        folder = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(certificates);
        QString error;
        ASSERT_TRUE(service.useTls(certificates->serverCertificate, certificates->serverKey, &error)) << qPrintable(error);
        ASSERT_TRUE(service.listen());
    }
    void TearDown() override { EXPECT_FALSE(KCHTTPUtils::setAdditionalCertificateAuthorityFile(QString())); }

    std::shared_ptr<Outcome> sendUpdate()
    {
        auto outcome = std::make_shared<Outcome>();
        KCHTTPUtils::sendAsynchronousRequest(KCHTTPUtils::createPostURLRequest(service.url(kUpdate), {{QStringLiteral("kovraID"), QStringList{QStringLiteral("a")}}}),
                                             [outcome](const QVariant &reply, const std::optional<KCError> &error) {
                                                 ++outcome->calls;
                                                 outcome->reply = reply;
                                                 outcome->error = error;
                                             });
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome->calls > 0; }, kWaitMilliseconds));
        return outcome;
    }

    static inline QTemporaryDir *folder = nullptr;
    static inline std::optional<KCTestCertificates> certificates;
    KCFakeAccountService service;
};

TEST_F(KCHTTPSenderTLSTest, AnUntrustedCertificateIsRefused)
{
    const auto outcome = sendUpdate();
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, KCURLErrorDomain);
    EXPECT_EQ(outcome->error->code, KCURLErrorServerCertificateUntrusted);
    EXPECT_TRUE(service.requests().isEmpty()) << "nothing may be sent before the server is trusted";
}

TEST_F(KCHTTPSenderTLSTest, TheConfiguredAuthorityIsTrustedUntilItIsRemoved)
{
    EXPECT_FALSE(KCHTTPUtils::setAdditionalCertificateAuthorityFile(certificates->authorityCertificate));
    const auto trusted = sendUpdate();
    EXPECT_FALSE(trusted->error) << qPrintable(trusted->error->localizedDescription());
    EXPECT_EQ(trusted->reply, (QVariantMap{{QStringLiteral("a"), 0}}));

    // A connection kept open from the trusted exchange must not outlive the trust.
    EXPECT_FALSE(KCHTTPUtils::setAdditionalCertificateAuthorityFile(QString()));
    const auto refused = sendUpdate();
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->code, KCURLErrorServerCertificateUntrusted);
    EXPECT_EQ(service.requests().size(), 1);
}

TEST_F(KCHTTPSenderTLSTest, AnAuthorityFileThatCannotServeIsAnErrorAndChangesNothing)
{
    QFile garbage(folder->filePath(QStringLiteral("garbage.pem")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
    garbage.close();

    EXPECT_FALSE(KCHTTPUtils::setAdditionalCertificateAuthorityFile(certificates->authorityCertificate));
    const std::pair<QString, qint64> cases[] = {
        {folder->filePath(QStringLiteral("missing.pem")), 260},
        {garbage.fileName(), 259},
        {folder->path(), 257},
    };
    for (const auto &[path, code] : cases) {
        const auto error = KCHTTPUtils::setAdditionalCertificateAuthorityFile(path);
        ASSERT_TRUE(error) << qPrintable(path);
        EXPECT_EQ(error->domain, QStringLiteral("NSCocoaErrorDomain"));
        EXPECT_EQ(error->code, code) << qPrintable(path);
    }
    EXPECT_FALSE(sendUpdate()->error) << "the authority set before is still trusted";
}

} // namespace
