#include "KCBuildInfo.h"
#include "KCDaemonApplicationMain.h"
#include "KCDaemonKeychainAccess.h"
#include "KCDaemonTestBed.h"
#include "KCDaemonVocabulary.h"
#include "KCLogCapture.h"
#include "KCScratchFileSystem.h"
#include "KCTestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class KCDaemonApplicationMainTest : public ::testing::Test, public KCDaemonTestBed {
protected:
    QString legacyPath(const QString &installedPath) const { return root.path() + installedPath; }
    void createLegacyFile(const QString &installedPath)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(legacyPath(installedPath)).absolutePath()));
        ASSERT_TRUE(KCTestFiles::writeAll(legacyPath(installedPath), "old"));
    }

    KCLogCapture log;
};

const QString LegacyExecutable = KCInstalledLibexecDirectory + QStringLiteral("/kovra_connectd");
const QString LegacyUnitFile = KCInstalledUnitDirectory + QStringLiteral("/com.fendrel.kovraconnect.daemon.service");

} // namespace

TEST_F(KCDaemonApplicationMainTest, StartUpMarksEveryAccountInitializingAndSavesTheSettings)
{
    keychain.items = {{KCDaemonKeychainService, QStringLiteral("alice"), QStringLiteral("pw")},
                      {KCDaemonKeychainService, QStringLiteral("bob"), QStringLiteral("pw")}};
    store.setObject(QVariantList{QStringLiteral("carol")}, KCDaemonKeychainAccountListKey);

    KCDaemonApplicationMain daemon(environment());
    EXPECT_EQ(KCDaemonApplicationMain::instance(), &daemon);
    const QMap<QString, QString> expected{{QStringLiteral("alice"), KCDaemonStatusAccountDaemonInitializing},
                                          {QStringLiteral("bob"), KCDaemonStatusAccountDaemonInitializing},
                                          {QStringLiteral("carol"), KCDaemonStatusAccountDaemonInitializing}};
    EXPECT_EQ(daemon.accountStatus(), expected);
    EXPECT_EQ(daemon.portMappingStatus(), KCDaemonStatusPortMappingInitializing);
    EXPECT_EQ(daemon.lastMappingStatus(), QStringLiteral("Not Set"));
    EXPECT_EQ(daemon.sleepStatus(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("3 accounts found. (alice, bob, carol)")));

    // Every setting is in the store, so the state on disk shows what is in effect.
    for (const QString &key : KCDaemonSettings::defaultUserDefaults().keys())
        EXPECT_TRUE(store.storedValues().contains(key)) << key.toStdString();
    EXPECT_EQ(store.storedValues().value(KCDaemonSettingsStoreKey::UUID), QVariant(daemon.settings().UUID()));
}

TEST_F(KCDaemonApplicationMainTest, EmptyKeychainStartsWithNoAccount)
{
    KCDaemonApplicationMain daemon(environment());
    EXPECT_TRUE(daemon.accountStatus().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("0 accounts found. ()")));
}

TEST_F(KCDaemonApplicationMainTest, RemovesThePreviousGenerationEvenWhenItsServiceWasNotLoaded)
{
    createLegacyFile(LegacyExecutable);
    createLegacyFile(LegacyUnitFile);
    const QString neighbour = QFileInfo(legacyPath(LegacyUnitFile)).absolutePath() + QStringLiteral("/other.service");
    ASSERT_TRUE(KCTestFiles::writeAll(neighbour, "keep"));
    serviceManager.succeed = false;

    KCDaemonApplicationMain daemon(environment());
    EXPECT_EQ(serviceManager.removed, QStringList{QStringLiteral("com.fendrel.kovraconnect.daemon.service")});
    EXPECT_FALSE(QFile::exists(legacyPath(LegacyExecutable)));
    EXPECT_FALSE(QFile::exists(legacyPath(LegacyUnitFile)));
    EXPECT_TRUE(QFile::exists(neighbour));
    EXPECT_EQ(log.count(QStringLiteral("Cannot remove")), 0);

    // Absent files are no error either.
    EXPECT_FALSE(daemon.uninstallPreviousVersionIfNeeded());
    serviceManager.succeed = true;
    EXPECT_TRUE(daemon.uninstallPreviousVersionIfNeeded());
    EXPECT_EQ(log.count(QStringLiteral("Cannot remove")), 0);
}

TEST_F(KCDaemonApplicationMainTest, FileThatCannotBeRemovedIsLoggedAndTheNextOneStillGoes)
{
    createLegacyFile(LegacyExecutable);
    createLegacyFile(LegacyUnitFile);
    KCFaultyFolder folder(QFileInfo(legacyPath(LegacyExecutable)).absolutePath());
    ASSERT_TRUE(folder.ready()) << folder.error().toStdString();
    // On a scratch file system the folder starts empty.
    ASSERT_TRUE(KCTestFiles::writeAll(legacyPath(LegacyExecutable), "old"));
    ASSERT_TRUE(folder.setReadOnly(true)) << folder.error().toStdString();

    KCDaemonApplicationMain daemon(environment());
    EXPECT_TRUE(QFile::exists(legacyPath(LegacyExecutable)));
    EXPECT_FALSE(QFile::exists(legacyPath(LegacyUnitFile)));
    const QStringList lines = log.lines().filter(QStringLiteral("Cannot remove"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("Cannot remove %1: ").arg(LegacyExecutable))) << lines.first().toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("accounts found")));
    ASSERT_TRUE(folder.setReadOnly(false));
}

TEST_F(KCDaemonApplicationMainTest, DailyTimerForgetsTheLastUpdateAndTriesAnother)
{
    KCDaemonApplicationMain daemon(environment());
    const KCRequestParameters sent{{QStringLiteral("externalPort"), 12345}};
    for (int day = 0; day < 3; ++day) {
        SCOPED_TRACE(day);
        client.clear();
        daemon.setLastSentDict(sent);
        timers.advance(24h - 1ms);
        EXPECT_EQ(daemon.lastSentDict(), sent);
        EXPECT_EQ(client.eventCount(QStringLiteral("Refreshing status on server ...")), 0);
        timers.advance(1ms);
        EXPECT_EQ(daemon.lastSentDict(), std::nullopt);
        EXPECT_EQ(client.events, QStringList({QStringLiteral("Refreshing status on server ..."),
                                              QStringLiteral("No accounts so not sending an update. This shouldn't occur!")}));
    }
}

TEST_F(KCDaemonApplicationMainTest, TearDownLogsAndStopsTheTimer)
{
    {
        KCDaemonApplicationMain daemon(environment());
        EXPECT_EQ(timers.activeTimerCount(), 1);
    }
    EXPECT_TRUE(log.contains(QStringLiteral("Cleaning Up")));
    EXPECT_EQ(timers.activeTimerCount(), 0);
    EXPECT_EQ(KCDaemonApplicationMain::instance(), nullptr);

    // Once the first is gone, a new one may be made.
    KCDaemonApplicationMain again(environment());
    EXPECT_EQ(KCDaemonApplicationMain::instance(), &again);
}

TEST_F(KCDaemonApplicationMainTest, SecondInstanceStopsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            KCDaemonApplicationMain first(environment());
            KCDaemonApplicationMain second(environment());
        },
        "appInstance == nil");
}
