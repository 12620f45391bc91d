#include "KCJsonDefaultsStore.h"
#include "KCLogCapture.h"
#include "KCScratchFileSystem.h"
#include "KCTestFiles.h"
#include "KCTestUtils.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <limits>

namespace {

const QString Domain = QStringLiteral("com.fendrel.kovra.connect");

using KCTestFiles::modeOf;
using KCTestFiles::readAll;

QStringList damagedCopies(const QString &directory)
{
    return QDir(directory).entryList({Domain + QStringLiteral(".json.damaged-*")}, QDir::Files);
}

class KCJsonDefaultsStoreTest : public ::testing::Test {
protected:
    QString path() const { return QDir(dir.path()).filePath(Domain + QStringLiteral(".json")); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(KCJsonDefaultsStoreTest, KeepsEveryKindExactlyAcrossARestart)
{
    const QVariantMap nested{{QStringLiteral("five"), qint64(5)}, {QStringLiteral("half"), 0.5},
                             {QStringLiteral("list"), QVariantList{true, QStringLiteral("x"), 5.0}}};
    const struct {
        const char *key;
        QVariant value;
    } cases[] = {
        {"int", QVariant::fromValue(qint64(5))},
        {"real", 5.0},
        {"bool", true},
        {"false", false},
        {"zero", QVariant::fromValue(qint64(0))},
        {"largest", QVariant::fromValue(std::numeric_limits<qint64>::max())},
        {"smallest", QVariant::fromValue(std::numeric_limits<qint64>::min())},
        {"tiny", 1e-300},
        {"string", QStringLiteral("Grüße \"quoted\" \n")},
        {"empty string", QString()},
        {"array", QVariantList{qint64(1), 1.0, true, QStringLiteral("1")}},
        {"empty array", QVariantList{}},
        {"string list", QStringList{QStringLiteral("alice"), QStringLiteral("bob")}},
        {"dictionary", nested},
        {"empty dictionary", QVariantMap{}},
    };
    {
        KCJsonDefaultsStore store(dir.path(), Domain);
        for (const auto &c : cases)
            ASSERT_TRUE(store.setObject(c.value, QString::fromUtf8(c.key))) << c.key;
    }
    KCJsonDefaultsStore reopened(dir.path(), Domain);
    for (const auto &c : cases) {
        const QVariant loaded = reopened.objectForKey(QString::fromUtf8(c.key));
        EXPECT_EQ(loaded.typeId(), KCValue::normalized(c.value).typeId()) << c.key;
        EXPECT_EQ(loaded, KCValue::normalized(c.value)) << c.key;
    }
    const QVariantList list = reopened.objectForKey(QStringLiteral("array")).toList();
    ASSERT_EQ(list.size(), 4);
    EXPECT_TRUE(KCValue::isInteger(list[0]));
    EXPECT_TRUE(KCValue::isReal(list[1]));
    EXPECT_TRUE(KCValue::isBool(list[2]));
    EXPECT_TRUE(KCValue::isString(list[3]));
    EXPECT_TRUE(KCValue::isReal(reopened.objectForKey(QStringLiteral("dictionary")).toMap().value(QStringLiteral("list")).toList().at(2)));
}

TEST_F(KCJsonDefaultsStoreTest, FallbacksAnswerButNeverReachTheFile)
{
    {
        KCJsonDefaultsStore store(dir.path(), Domain);
        store.registerDefaults({{QStringLiteral("RouterInfo"), QStringLiteral("N/A")}, {QStringLiteral("vncPort"), 5900}});
        EXPECT_EQ(store.objectForKey(QStringLiteral("vncPort")), QVariant::fromValue(qint64(5900)));
        ASSERT_TRUE(store.setObject(QStringLiteral("Home router"), QStringLiteral("RouterInfo")));
        ASSERT_TRUE(store.removeObject(QStringLiteral("RouterInfo")));
        EXPECT_EQ(store.objectForKey(QStringLiteral("RouterInfo")), QVariant(QStringLiteral("N/A")));
        ASSERT_TRUE(store.setObject(qint64(1), QStringLiteral("ManualMode")));
    }
    const QJsonObject values = QJsonDocument::fromJson(readAll(path())).object().value(QStringLiteral("values")).toObject();
    EXPECT_EQ(values.keys(), QStringList{QStringLiteral("ManualMode")});

    KCJsonDefaultsStore reopened(dir.path(), Domain);
    EXPECT_FALSE(reopened.objectForKey(QStringLiteral("vncPort")).isValid());
}

TEST_F(KCJsonDefaultsStoreTest, DamagedFileIsKeptAsideAndTheStoreStartsFromItsFallbacks)
{
    const QByteArray good = R"({"version": 1, "values": {"UseSSH": {"bool": true}, "vncPort": {"integer": 5901}}})";
    QByteArray deep;
    for (int i = 0; i < 70; ++i)
        deep += R"({"array": [)";
    deep += R"({"bool": true})";
    for (int i = 0; i < 70; ++i)
        deep += "]}";
    const struct {
        const char *name;
        QByteArray content;
    } cases[] = {
        {"empty file", ""},
        {"not JSON", "this is not JSON"},
        {"binary", QByteArray("\x00\xff\xfe\x01", 4)},
        {"truncated", good.left(good.size() / 2)},
        {"top level is an array", "[1, 2, 3]"},
        {"top level is a string", "\"values\""},
        {"no version", R"({"values": {}})"},
        {"unknown version", R"({"version": 2, "values": {}})"},
        {"values is a list", R"({"version": 1, "values": []})"},
        {"untagged value", R"({"version": 1, "values": {"UseSSH": true}})"},
        {"unknown tag", R"({"version": 1, "values": {"UseSSH": {"boolean": true}}})"},
        {"two tags", R"({"version": 1, "values": {"UseSSH": {"bool": true, "string": "x"}}})"},
        {"tag of the wrong kind", R"({"version": 1, "values": {"UseSSH": {"bool": "yes"}}})"},
        {"integer with a fraction", R"({"version": 1, "values": {"vncPort": {"integer": 5900.5}}})"},
        {"integer out of range", R"({"version": 1, "values": {"vncPort": {"integer": 1e30}}})"},
        {"bad tag deep inside", R"({"version": 1, "values": {"d": {"dictionary": {"a": {"array": [{"int": 1}]}}}}})"},
        {"nested too deeply", R"({"version": 1, "values": {"d": )" + deep + "}}"},
        {"oversized", good + QByteArray(KCJsonDefaultsStore::MaxFileSize, ' ')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir caseDir;
        const QString file = QDir(caseDir.path()).filePath(Domain + QStringLiteral(".json"));
        ASSERT_TRUE(KCTestFiles::writeAll(file, c.content));
        KCLogCapture log;
        KCJsonDefaultsStore store(caseDir.path(), Domain);
        store.registerDefaults({{QStringLiteral("vncPort"), 5900}});

        EXPECT_EQ(store.objectForKey(QStringLiteral("vncPort")), QVariant::fromValue(qint64(5900)));
        EXPECT_FALSE(store.objectForKey(QStringLiteral("UseSSH")).isValid());
        EXPECT_EQ(log.count(QStringLiteral("is damaged")), 1);
        const QStringList copies = damagedCopies(caseDir.path());
        ASSERT_EQ(copies.size(), 1);
        EXPECT_EQ(readAll(QDir(caseDir.path()).filePath(copies.first())), c.content);
        EXPECT_FALSE(QFile::exists(file));

        // The store works on: the next change makes a new, valid file and leaves the copy alone.
        EXPECT_TRUE(store.setObject(true, QStringLiteral("UseSSH")));
        EXPECT_EQ(KCJsonDefaultsStore(caseDir.path(), Domain).objectForKey(QStringLiteral("UseSSH")), QVariant(true));
        EXPECT_EQ(damagedCopies(caseDir.path()).size(), 1);
    }
}

TEST_F(KCJsonDefaultsStoreTest, SecondDamagedFileInTheSameSecondGetsItsOwnCopy)
{
    ASSERT_TRUE(KCTestFiles::writeAll(path(), "first"));
    { KCJsonDefaultsStore store(dir.path(), Domain); }
    ASSERT_TRUE(KCTestFiles::writeAll(path(), "second"));
    { KCJsonDefaultsStore store(dir.path(), Domain); }
    const QStringList copies = damagedCopies(dir.path());
    ASSERT_EQ(copies.size(), 2);
    QSet<QByteArray> contents;
    for (const QString &copy : copies)
        contents.insert(readAll(QDir(dir.path()).filePath(copy)));
    EXPECT_EQ(contents, (QSet<QByteArray>{"first", "second"}));
}

TEST_F(KCJsonDefaultsStoreTest, CreatesAPrivateFolderAndPrivateFilesWhateverTheUmask)
{
    const mode_t previous = ::umask(0);
    const QString stateDir = QDir(dir.path()).filePath(QStringLiteral("var/lib/state"));
    KCJsonDefaultsStore store(stateDir, Domain);
    const bool saved = store.setObject(QStringLiteral("x"), QStringLiteral("HotKeys"));
    ::umask(previous);
    ASSERT_TRUE(saved);
    EXPECT_EQ(modeOf(stateDir), 0700u);
    EXPECT_EQ(modeOf(store.filePath()), 0600u);
}

TEST_F(KCJsonDefaultsStoreTest, NeverWritesThroughSomethingThatIsNotItsOwnFile)
{
    const QString victim = QDir(dir.path()).filePath(QStringLiteral("victim"));
    ASSERT_TRUE(KCTestFiles::writeAll(victim, "precious"));
    const struct {
        const char *name;
        std::function<void()> make;
    } cases[] = {
        {"symbolic link", [&] { ASSERT_TRUE(QFile::link(victim, path())); }},
        {"folder", [&] { ASSERT_TRUE(QDir().mkpath(path())); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        QDir(path()).removeRecursively();
        c.make();
        KCLogCapture log;
        KCJsonDefaultsStore store(dir.path(), Domain);
        EXPECT_FALSE(store.setObject(true, QStringLiteral("UseSSH")));
        EXPECT_EQ(store.objectForKey(QStringLiteral("UseSSH")), QVariant(true));
        EXPECT_TRUE(log.contains(QStringLiteral("kept in memory only")));
        EXPECT_EQ(readAll(victim), "precious");
    }
}

TEST_F(KCJsonDefaultsStoreTest, RefusesValuesItCannotKeep)
{
    KCJsonDefaultsStore store(dir.path(), Domain);
    EXPECT_FALSE(store.setObject(QByteArray("bytes"), QStringLiteral("a")));
    EXPECT_FALSE(store.setObject(std::numeric_limits<double>::quiet_NaN(), QStringLiteral("b")));
    EXPECT_FALSE(store.setObject(QVariantList{std::numeric_limits<double>::infinity()}, QStringLiteral("c")));
    for (const char *key : {"a", "b", "c"})
        EXPECT_FALSE(store.objectForKey(QString::fromLatin1(key)).isValid()) << key;
    EXPECT_FALSE(QFile::exists(store.filePath()));
}

TEST_F(KCJsonDefaultsStoreTest, RemovesTemporaryFilesAKilledWriterLeft)
{
    const QString leftover = path() + QStringLiteral(".tmp-AbC123");
    const QString unrelated = QDir(dir.path()).filePath(QStringLiteral("other.json.tmp-AbC123"));
    ASSERT_TRUE(KCTestFiles::writeAll(leftover, "half"));
    ASSERT_TRUE(KCTestFiles::writeAll(unrelated, "not ours"));
    KCJsonDefaultsStore store(dir.path(), Domain);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(unrelated));
}


TEST_F(KCJsonDefaultsStoreTest, ReadOnlyFolderKeepsTheOldFileAndTheNewValueInMemory)
{
    KCFaultyFolder folder(dir.path());
    ASSERT_TRUE(folder.ready()) << folder.error().toStdString();
    KCJsonDefaultsStore store(dir.path(), Domain);
    ASSERT_TRUE(store.setObject(QStringLiteral("old"), QStringLiteral("HotKeys")));
    const QByteArray before = readAll(store.filePath());

    ASSERT_TRUE(folder.setReadOnly(true)) << folder.error().toStdString();
    KCLogCapture log;
    EXPECT_FALSE(store.setObject(QStringLiteral("new"), QStringLiteral("HotKeys")));
    EXPECT_FALSE(store.setObject(qint64(22), QStringLiteral("sshPort")));
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot save settings")));
    EXPECT_EQ(store.objectForKey(QStringLiteral("HotKeys")), QVariant(QStringLiteral("new")));
    EXPECT_EQ(readAll(store.filePath()), before);

    // Once the disk takes writes again, saving even an unchanged value writes everything held.
    ASSERT_TRUE(folder.setReadOnly(false)) << folder.error().toStdString();
    EXPECT_TRUE(store.setObject(qint64(22), QStringLiteral("sshPort")));
    KCJsonDefaultsStore reopened(dir.path(), Domain);
    EXPECT_EQ(reopened.objectForKey(QStringLiteral("HotKeys")), QVariant(QStringLiteral("new")));
    EXPECT_EQ(reopened.objectForKey(QStringLiteral("sshPort")), QVariant::fromValue(qint64(22)));
}

TEST_F(KCJsonDefaultsStoreTest, FullDiskKeepsTheOldFileIntact)
{
    KC_REQUIRE_ROOT();
    KCFaultyFolder folder(dir.path(), 64 * 1024);
    ASSERT_TRUE(folder.ready()) << folder.error().toStdString();
    KCJsonDefaultsStore store(dir.path(), Domain);
    ASSERT_TRUE(store.setObject(QStringLiteral("old"), QStringLiteral("HotKeys")));
    const QByteArray before = readAll(store.filePath());

    KCLogCapture log;
    EXPECT_FALSE(store.setObject(QString(200 * 1024, QLatin1Char('x')), QStringLiteral("HotKeys")));
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot save settings")));
    EXPECT_EQ(readAll(store.filePath()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{Domain + QStringLiteral(".json")});
    EXPECT_EQ(KCJsonDefaultsStore(dir.path(), Domain).objectForKey(QStringLiteral("HotKeys")), QVariant(QStringLiteral("old")));
}
