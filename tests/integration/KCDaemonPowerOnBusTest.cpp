// The daemon executable with the fake logind on its private system bus: the idle lock follows
// the prevent-sleep setting, and sleep, wake and power-off get the daemon's last word out first.

#include "KCDaemonOnPrivateBus.h"
#include "KCDaemonVocabulary.h"
#include "KCFakeLogindControl.h"
#include "KCRecordingHelperToolClient.h"
#include "KCTestUtils.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString UpdateEndpoint = QStringLiteral("/computer/update.php");

class KCDaemonPowerOnBusTest : public ::testing::Test {
protected:
    void SetUp() override { KC_REQUIRE_ROOT(); }

    void start(const KCDaemonOnPrivateBus::Options &options)
    {
        QString error;
        ASSERT_TRUE(world.start(options, &error)) << error.toStdString();
    }

    // Whether the fake logind holds an open lock of that mode for us.
    bool lockOpen(const QString &mode)
    {
        for (const QVariant &entry : KCFakeLogindControl(world.control).inhibitors()) {
            const QVariantMap inhibitor = entry.toMap();
            if (inhibitor.value(QStringLiteral("mode")) == mode && inhibitor.value(QStringLiteral("who")) == QStringLiteral("Kovra Connect")
                && inhibitor.value(QStringLiteral("open")).toBool())
                return true;
        }
        return false;
    }

    // Runs the event loop until an update with that awake status reached the service.
    bool waitForUpdateWithAwakeStatus(const QString &awakeStatus)
    {
        return QTest::qWaitFor([&] {
            const auto updates = world.service().requests(UpdateEndpoint);
            return std::any_of(updates.cbegin(), updates.cend(), [&](const QJsonObject &update) {
                return KCServiceInNamespace::field(update, QStringLiteral("awakeStatus")) == awakeStatus;
            });
        }, 30000);
    }

    KCDaemonOnPrivateBus world;
};

} // namespace

TEST_F(KCDaemonPowerOnBusTest, PreventSleepHoldsAnIdleLockExactlyWhileItIsOn)
{
    start({});
    // Registered for sleep and shutdown at start.
    ASSERT_TRUE(world.logind()->waitForLine(QStringLiteral("inhibit sleep:shutdown delay Kovra Connect")));
    EXPECT_FALSE(lockOpen(QStringLiteral("block")));

    KCRecordingHelperToolClient client;
    ASSERT_EQ(client.userSettingsChanged({{KCDaemonSettingsPreventSleep, true}}), true);
    ASSERT_TRUE(world.logind()->waitForLine(QStringLiteral("inhibit idle block Kovra Connect")));
    EXPECT_TRUE(lockOpen(QStringLiteral("block")));
    ASSERT_TRUE(world.daemon().waitForStandardError(QStringLiteral("Kovra Connect: cancelling sleep mode.")));

    ASSERT_EQ(client.userSettingsChanged({{KCDaemonSettingsPreventSleep, false}}), true);
    ASSERT_TRUE(world.logind()->waitForLine(QStringLiteral("released idle block Kovra Connect")));
    EXPECT_FALSE(lockOpen(QStringLiteral("block")));
    ASSERT_TRUE(world.daemon().waitForStandardError(QStringLiteral("Kovra Connect: allowing sleep mode.")));
}

TEST_F(KCDaemonPowerOnBusTest, SleepTellsTheServiceBeforeTheLockGoesAndWakeTellsItAgain)
{
    // Updates are answered late, so the sleep's update is seen while the system still waits.
    start({.accounts = {{Alice, QStringLiteral("pw")}}, .serviceScript = R"({"/computer/update.php": {"accountStatus": 0, "delayMs": 1500}})"});
    ASSERT_TRUE(world.logind()->waitForLine(QStringLiteral("inhibit sleep:shutdown delay Kovra Connect")));
    ASSERT_TRUE(waitForUpdateWithAwakeStatus(QStringLiteral("1")));
    ASSERT_TRUE(world.daemon().waitForStandardError(QStringLiteral("Update sent: ")));

    KCFakeLogindControl logind(world.control);
    const QDBusPendingCall suspend = logind.suspend();
    ASSERT_TRUE(waitForUpdateWithAwakeStatus(QStringLiteral("2"))) << world.daemon().standardError().toStdString();
    EXPECT_TRUE(lockOpen(QStringLiteral("delay")));
    const QVariantMap slept = KCFakeLogindControl::answerOf(suspend);
    EXPECT_EQ(slept.value(QStringLiteral("delayLocks")).toInt(), 1);
    EXPECT_EQ(slept.value(QStringLiteral("released")), true);
    ASSERT_TRUE(world.daemon().waitForStandardError(QStringLiteral("Will sleep...")));

    const qsizetype before = world.service().requests(UpdateEndpoint).size();
    ASSERT_TRUE(logind.resume());
    ASSERT_TRUE(world.service().waitForRequests(UpdateEndpoint, before + 1));
    EXPECT_EQ(KCServiceInNamespace::field(world.service().requests(UpdateEndpoint).last(), QStringLiteral("awakeStatus")), QStringLiteral("1"));
    // Ready for the next sleep.
    ASSERT_TRUE(QTest::qWaitFor([&] { return lockOpen(QStringLiteral("delay")); }, 30000));
}

TEST_F(KCDaemonPowerOnBusTest, PowerOffRemovesTheMappingsAndLetsTheSystemGoOn)
{
    start({.accounts = {{Alice, QStringLiteral("pw")}}});
    ASSERT_TRUE(world.logind()->waitForLine(QStringLiteral("inhibit sleep:shutdown delay Kovra Connect")));
    const QVariantMap stopped = KCFakeLogindControl::answerOf(KCFakeLogindControl(world.control).powerOff());
    EXPECT_EQ(stopped.value(QStringLiteral("delayLocks")).toInt(), 1);
    EXPECT_EQ(stopped.value(QStringLiteral("released")), true);
    ASSERT_TRUE(world.daemon().waitForStandardError(QStringLiteral("Will power off...")));
    EXPECT_TRUE(world.daemon().standardError().contains(QStringLiteral("Kovra Connect: System will power off.")));
    KCRecordingHelperToolClient client;
    const auto status = client.getSettings();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value(KCDaemonStatusPortMapping), KCDaemonStatusNoAccounts);
}

TEST_F(KCDaemonPowerOnBusTest, WithoutLogindTheFailureIsLoggedAndTheDaemonRunsOn)
{
    start({.logind = false});
    ASSERT_TRUE(world.daemon().waitForStandardError(QStringLiteral("IORegisterForSystemPower failed")));
    KCRecordingHelperToolClient client;
    EXPECT_EQ(client.userSettingsChanged({{KCDaemonSettingsPreventSleep, true}}), true);
    // Tried again with the flag change.
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.daemon().standardError().count(QStringLiteral("IORegisterForSystemPower failed")) == 2; }, 30000));
    EXPECT_EQ(client.getVersion(), QStringLiteral("3.9.0"));
}
