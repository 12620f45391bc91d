#include "KCFileKeychain.h"
#include "KCLogCapture.h"
#include "KCScratchFileSystem.h"
#include "KCTestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <cstdio>
#include <sys/stat.h>

namespace {

const QString Service = QStringLiteral("com.fendrel.kovra.connect.tool");

using KCTestFiles::modeOf;
using KCTestFiles::readAll;

QStringList accounts(KCKeychain &keychain, KCKeychainStatus expectedStatus = 0)
{
    QStringList names;
    EXPECT_EQ(keychain.copyAccounts(Service, &names), expectedStatus);
    return names;
}

QStringList damagedCopies(const QString &directory)
{
    return QDir(directory).entryList({QStringLiteral("system-keychain.json.damaged-*")}, QDir::Files);
}

} // namespace

TEST(KCFileKeychain, KeepsItemsInAPrivateFileAcrossRestarts)
{
    QTemporaryDir dir;
    const QString stateDir = QDir(dir.path()).filePath(QStringLiteral("state"));
    {
        KCFileKeychain keychain(stateDir);
        ASSERT_EQ(keychain.open(), 0);
        EXPECT_EQ(accounts(keychain), QStringList());
        EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("bob"), QStringLiteral("pw-bob")), 0);
        EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("alice"), QStringLiteral("pw-älice")), 0);
        EXPECT_EQ(keychain.addGenericPassword(QStringLiteral("other"), QStringLiteral("carol"), QStringLiteral("pw")), 0);
        EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("bob"), QStringLiteral("new")), KCKeychainStatusCode::DuplicateItem);
        EXPECT_EQ(modeOf(stateDir), 0700u);
        EXPECT_EQ(modeOf(keychain.filePath()), 0600u);
    }
    KCFileKeychain keychain(stateDir);
    ASSERT_EQ(keychain.open(), 0);
    EXPECT_EQ(accounts(keychain), (QStringList{QStringLiteral("bob"), QStringLiteral("alice")}));
    QString password;
    EXPECT_EQ(keychain.findGenericPassword(Service, QStringLiteral("bob"), &password), 0);
    EXPECT_EQ(password, QStringLiteral("pw-bob"));
    EXPECT_EQ(keychain.findGenericPassword(Service, QStringLiteral("alice"), &password), 0);
    EXPECT_EQ(password, QStringLiteral("pw-älice"));
    EXPECT_EQ(keychain.findGenericPassword(Service, QStringLiteral("carol"), &password), KCKeychainStatusCode::ItemNotFound);

    EXPECT_EQ(keychain.deleteGenericPassword(Service, QStringLiteral("bob")), 0);
    EXPECT_EQ(keychain.deleteGenericPassword(Service, QStringLiteral("bob")), KCKeychainStatusCode::ItemNotFound);
    KCFileKeychain reopened(stateDir);
    EXPECT_EQ(accounts(reopened), QStringList{QStringLiteral("alice")});
}

TEST(KCFileKeychain, DamagedFileIsNeverOverwrittenAndStaysClosedUntilRepaired)
{
    const QByteArray valid = R"({"version": 1, "items": [{"class": "genp", "service": "com.fendrel.kovra.connect.tool", "account": "alice", "password": "hunter2"}]})";
    const struct {
        const char *name;
        QByteArray content;
        bool copied;
    } cases[] = {
        {"empty file", "", true},
        {"not JSON", "hunter2 is the password", true},
        {"truncated", valid.left(valid.size() - 10), true},
        {"top level is a list", "[]", true},
        {"unknown version", R"({"version": 7, "items": []})", true},
        {"items is not a list", R"({"version": 1, "items": {}})", true},
        {"item without a password", R"({"version": 1, "items": [{"class": "genp", "service": "s", "account": "a"}]})", true},
        {"password of the wrong kind", R"({"version": 1, "items": [{"class": "genp", "service": "s", "account": "a", "password": 5}]})", true},
        {"unknown item class", R"({"version": 1, "items": [{"class": "inet", "service": "s", "account": "a", "password": "p"}]})", true},
        {"item with an extra field", R"({"version": 1, "items": [{"class": "genp", "service": "s", "account": "a", "password": "p", "x": 1}]})", true},
        {"one account twice",
         R"({"version": 1, "items": [{"class": "genp", "service": "s", "account": "a", "password": "p"}, {"class": "genp", "service": "s", "account": "a", "password": "q"}]})",
         true},
        {"oversized", valid + QByteArray(KCFileKeychain::MaxFileSize, ' '), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        KCLogCapture log;
        KCFileKeychain keychain(dir.path());
        ASSERT_TRUE(KCTestFiles::writeAll(keychain.filePath(), c.content));

        EXPECT_EQ(keychain.open(), KCKeychainStatusCode::InvalidKeychain);
        EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("bob"), QStringLiteral("pw")), KCKeychainStatusCode::InvalidKeychain);
        EXPECT_EQ(keychain.deleteGenericPassword(Service, QStringLiteral("alice")), KCKeychainStatusCode::InvalidKeychain);
        accounts(keychain, KCKeychainStatusCode::InvalidKeychain);
        EXPECT_EQ(readAll(keychain.filePath()), c.content);
        EXPECT_EQ(log.count(QStringLiteral("is damaged")), 1);
        EXPECT_EQ(log.count(QStringLiteral("hunter2")), 0);
        const QStringList copies = damagedCopies(dir.path());
        ASSERT_EQ(copies.size(), c.copied ? 1 : 0);
        if (c.copied) {
            EXPECT_EQ(readAll(QDir(dir.path()).filePath(copies.first())), c.content);
        }

        // A restart finds the same damage: logged again, no second copy.
        KCFileKeychain restarted(dir.path());
        EXPECT_EQ(restarted.open(), KCKeychainStatusCode::InvalidKeychain);
        EXPECT_EQ(damagedCopies(dir.path()).size(), c.copied ? 1 : 0);

        // Replaced by a good file: the next call opens it.
        ASSERT_TRUE(KCTestFiles::writeAll(keychain.filePath() + QStringLiteral(".new"), valid));
        ASSERT_EQ(::rename(QFile::encodeName(keychain.filePath() + QStringLiteral(".new")).constData(), QFile::encodeName(keychain.filePath()).constData()), 0);
        EXPECT_EQ(keychain.open(), 0);
        EXPECT_EQ(accounts(keychain), QStringList{QStringLiteral("alice")});
    }
}

TEST(KCFileKeychain, RemovedDamagedFileMeansAFreshStart)
{
    QTemporaryDir dir;
    KCFileKeychain keychain(dir.path());
    ASSERT_TRUE(KCTestFiles::writeAll(keychain.filePath(), "garbage"));
    EXPECT_EQ(keychain.open(), KCKeychainStatusCode::InvalidKeychain);
    ASSERT_TRUE(QFile::remove(keychain.filePath()));
    EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("alice"), QStringLiteral("pw")), 0);
    EXPECT_EQ(accounts(keychain), QStringList{QStringLiteral("alice")});
    EXPECT_EQ(damagedCopies(dir.path()).size(), 1);
}

TEST(KCFileKeychain, UnreadableFileMeansNoKeychain)
{
    QTemporaryDir dir;
    KCFileKeychain keychain(dir.path());
    ASSERT_TRUE(QDir().mkpath(keychain.filePath()));
    EXPECT_EQ(keychain.open(), KCKeychainStatusCode::NotAvailable);
    EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("alice"), QStringLiteral("pw")), KCKeychainStatusCode::NotAvailable);
    EXPECT_TRUE(QFileInfo(keychain.filePath()).isDir());
}

TEST(KCFileKeychain, FailedWriteKeepsTheOldFileAndTheChangeInMemory)
{
    QTemporaryDir dir;
    KCFaultyFolder folder(dir.path());
    ASSERT_TRUE(folder.ready()) << folder.error().toStdString();
    KCFileKeychain keychain(dir.path());
    ASSERT_EQ(keychain.addGenericPassword(Service, QStringLiteral("alice"), QStringLiteral("pw-a")), 0);
    const QByteArray before = readAll(keychain.filePath());

    ASSERT_TRUE(folder.setReadOnly(true)) << folder.error().toStdString();
    KCLogCapture log;
    EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("bob"), QStringLiteral("pw-b")), KCKeychainStatusCode::IOError);
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot save the credential file")));
    EXPECT_EQ(log.count(QStringLiteral("pw-b")), 0);
    EXPECT_EQ(readAll(keychain.filePath()), before);
    QString password;
    EXPECT_EQ(keychain.findGenericPassword(Service, QStringLiteral("bob"), &password), 0);
    EXPECT_EQ(password, QStringLiteral("pw-b"));
    // Adding it again is not a success while it exists in memory only.
    EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("bob"), QStringLiteral("pw-b")), KCKeychainStatusCode::IOError);

    ASSERT_TRUE(folder.setReadOnly(false)) << folder.error().toStdString();
    EXPECT_EQ(keychain.addGenericPassword(Service, QStringLiteral("bob"), QStringLiteral("pw-b")), KCKeychainStatusCode::DuplicateItem);
    KCFileKeychain reopened(dir.path());
    EXPECT_EQ(accounts(reopened), (QStringList{QStringLiteral("alice"), QStringLiteral("bob")}));
}
