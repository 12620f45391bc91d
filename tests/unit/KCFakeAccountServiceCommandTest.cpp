#include "KCHTTPUtils.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int kWaitMilliseconds = 20000;

// The fake service as a demonstration runs it: a process that prints its URL, answers from a
// script file and logs each request as a line of JSON.
class KCFakeAccountServiceCommandTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(kWaitMilliseconds);
        }
    }

    QString writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    }

    QString start(const QStringList &arguments)
    {
        process.start(QStringLiteral(KC_FAKE_ACCOUNT_SERVICE), arguments);
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(kWaitMilliseconds))
                return QString();
        }
        return QString::fromUtf8(process.readLine()).trimmed();
    }

    QVariant post(const QString &url, const KCRequestParameters &params)
    {
        QVariant result;
        bool done = false;
        KCHTTPUtils::sendAsynchronousRequest(KCHTTPUtils::createPostURLRequest(url, params),
                                             [&](const QVariant &reply, const std::optional<KCError> &error) {
                                                 result = error ? QVariant(error->code) : reply;
                                                 done = true;
                                             });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kWaitMilliseconds));
        return result;
    }

    QTemporaryDir folder;
    QProcess process;
};

TEST_F(KCFakeAccountServiceCommandTest, AnswersFromItsScriptAndLogsEveryRequest)
{
    const QString script = writeFile(QStringLiteral("script.json"), R"({
        "/computer/update.php": {"accountStatus": 20},
        "/computer/signout.php": [{"fault": "close-mid-body", "body": "{\"statusCode\": 0}"}, {"json": {"statusCode": 22, "note": "second"}}]
    })");
    const QString log = folder.filePath(QStringLiteral("requests.jsonl"));
    const QString baseURL = start({QStringLiteral("--script"), script, QStringLiteral("--log"), log});
    ASSERT_TRUE(baseURL.startsWith(QStringLiteral("http://127.0.0.1:"))) << qPrintable(baseURL);
    ASSERT_TRUE(baseURL.endsWith(QStringLiteral("/app/6.0")));

    EXPECT_EQ(post(baseURL + QStringLiteral("/computer/update.php"),
                   {{QStringLiteral("kovraID"), QStringList{QStringLiteral("a@b.c"), QStringLiteral("d@e.f")}},
                    {QStringLiteral("KCServicePort"), QVariantMap{{QStringLiteral("a@b.c"), 5900}}}}),
              (QVariantMap{{QStringLiteral("a@b.c"), 20}, {QStringLiteral("d@e.f"), 20}}));
    EXPECT_EQ(post(baseURL + QStringLiteral("/computer/signout.php"), {{QStringLiteral("kovraID"), QStringLiteral("a@b.c")}}),
              QVariant(qint64(-1005)));
    EXPECT_EQ(post(baseURL + QStringLiteral("/computer/signout.php"), {{QStringLiteral("kovraID"), QStringLiteral("a@b.c")}}),
              (QVariantMap{{QStringLiteral("statusCode"), 22}, {QStringLiteral("note"), QStringLiteral("second")}}));

    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = logFile.readAll().trimmed().split('\n');
    ASSERT_GE(lines.size(), 3);
    const QJsonObject update = QJsonDocument::fromJson(lines.first()).object();
    EXPECT_EQ(update.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    EXPECT_EQ(update.value(QStringLiteral("path")).toString(), QStringLiteral("/app/6.0/computer/update.php"));
    EXPECT_EQ(update.value(QStringLiteral("body")).toString(),
              QStringLiteral("kovraID[]=a@b.c&kovraID[]=d@e.f&KCServicePort[a@b.c]=5900"));
    const QJsonObject form = update.value(QStringLiteral("form")).toObject();
    EXPECT_EQ(form.value(QStringLiteral("kovraID")).toArray(), (QJsonArray{QStringLiteral("a@b.c"), QStringLiteral("d@e.f")}));
    EXPECT_EQ(form.value(QStringLiteral("KCServicePort")).toObject(), (QJsonObject{{QStringLiteral("a@b.c"), QStringLiteral("5900")}}));
}

TEST_F(KCFakeAccountServiceCommandTest, RefusesAScriptItCannotFollow)
{
    const QString script = writeFile(QStringLiteral("script.json"), R"({"/computer/update.php": {"fault": "explode"}})");
    process.start(QStringLiteral(KC_FAKE_ACCOUNT_SERVICE), {QStringLiteral("--script"), script});
    ASSERT_TRUE(process.waitForFinished(kWaitMilliseconds));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("unknown fault \"explode\""));
}

} // namespace
