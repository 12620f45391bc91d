#include "KCFileKeychain.h"
#include "KCJsonDefaultsStore.h"
#include "KCTestUtils.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr int Rounds = 25;

QString writerExecutable()
{
    return QDir(KCTest::buildDir()).filePath(QStringLiteral("tests/integration/kc_crash_writer"));
}

// Starts the writer, lets it complete a random number of writes, kills it with SIGKILL at a
// random moment after that, and returns the number of the last write it reported finished.
qint64 runAndKill(const QString &kind, const QString &folder, qint64 first)
{
    QProcess writer;
    writer.start(writerExecutable(), {kind, folder, QString::number(first)});
    EXPECT_TRUE(writer.waitForStarted(30000)) << writer.errorString().toStdString();
    const int wanted = QRandomGenerator::global()->bounded(1, 12);
    QByteArray output;
    while (output.count('\n') < wanted && writer.state() == QProcess::Running) {
        writer.waitForReadyRead(30000);
        output += writer.readAllStandardOutput();
    }
    // Somewhere inside one of the next writes: before, during or after its rename.
    ::usleep(useconds_t(QRandomGenerator::global()->bounded(0, 3000)));
    ::kill(pid_t(writer.processId()), SIGKILL);
    writer.waitForFinished(30000);
    output += writer.readAllStandardOutput();
    EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit) << "the writer stopped by itself: " << writer.readAllStandardError().toStdString();

    // Only complete lines count: a number cut off by the kill was not reported.
    const QList<QByteArray> lines = output.left(output.lastIndexOf('\n')).split('\n');
    const qint64 last = lines.last().isEmpty() ? first - 1 : lines.last().toLongLong();
    return last;
}

} // namespace

TEST(KCCrashSafety, KilledStoreWriterLeavesTheOldOrTheNewContent)
{
    QTemporaryDir dir;
    qint64 next = 1;
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE(round);
        const qint64 reported = runAndKill(QStringLiteral("store"), dir.path(), next);
        ASSERT_GE(reported, next);

        KCJsonDefaultsStore store(dir.path(), QStringLiteral("com.fendrel.kovra.connect"));
        ASSERT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.damaged-*")}, QDir::Files).isEmpty()) << "the store file did not parse";
        const QVariantMap record = store.objectForKey(QStringLiteral("record")).toMap();
        const qint64 counter = record.value(QStringLiteral("counter")).toLongLong();
        EXPECT_TRUE(counter == reported || counter == reported + 1) << "counter " << counter << ", last reported " << reported;
        const QVariantList payload = record.value(QStringLiteral("payload")).toList();
        ASSERT_EQ(payload.size(), 500);
        for (const QVariant &element : payload)
            ASSERT_EQ(element.toLongLong(), counter);
        next = counter + 1;
    }
}

TEST(KCCrashSafety, KilledKeychainWriterNeverLosesAnAccount)
{
    QTemporaryDir dir;
    qint64 next = 1;
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE(round);
        const qint64 reported = runAndKill(QStringLiteral("keychain"), dir.path(), next);
        ASSERT_GE(reported, next);

        KCFileKeychain keychain(dir.path());
        ASSERT_EQ(keychain.open(), 0) << "the credential file did not parse";
        QStringList accounts;
        ASSERT_EQ(keychain.copyAccounts(QStringLiteral("service"), &accounts), 0);
        const qint64 count = accounts.size();
        EXPECT_TRUE(count == reported || count == reported + 1) << count << " accounts, last reported " << reported;
        for (qint64 i = 0; i < count; ++i) {
            ASSERT_EQ(accounts.at(i), QStringLiteral("user%1").arg(i + 1));
            QString password;
            ASSERT_EQ(keychain.findGenericPassword(QStringLiteral("service"), accounts.at(i), &password), 0);
            ASSERT_EQ(password, QStringLiteral("pw%1").arg(i + 1));
        }
        next = count + 1;
    }
}
