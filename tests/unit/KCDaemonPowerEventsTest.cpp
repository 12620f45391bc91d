// The daemon and the system's power management, with a fake in logind's place: the idle lock
// follows the prevent-sleep setting, and sleep and power-off wait for the daemon's last word.

#include "KCDaemonOrchestrationSupport.h"

using namespace std::chrono_literals;

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString UpdateSent = QStringLiteral("Update sent: ");

class KCDaemonPowerEventsTest : public KCDaemonFixture {
protected:
    // Lets the fake's answers, and what the daemon does on them, run.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            processQueuedCalls();
    }

    // One account, mapped, with the service's answer to the first update in.
    void startMapped()
    {
        startWith({{Alice, QStringLiteral("pw-a")}});
        settle();
        mapEveryAccount();
        ASSERT_TRUE(waitForUpdateAnswers(1));
        client.clear();
    }

    void setPreventSleep(bool on) { EXPECT_TRUE(daemon->userSettingsChanged({{KCDaemonSettingsPreventSleep, on}})); }

    // The last update's awake status as sent.
    QString lastAwakeStatus() const { return updates().last().field(QStringLiteral("awakeStatus")); }
};

} // namespace

TEST_F(KCDaemonPowerEventsTest, TheIdleLockIsHeldExactlyWhilePreventSleepIsOn)
{
    store.setObject(true, KCDaemonSettingsStoreKey::PreventSleep);
    startWith({});
    // Registered first, then the flag applied.
    EXPECT_EQ(power.delayTakes, 1);
    EXPECT_EQ(power.idleTakes, 0);
    settle();
    EXPECT_TRUE(power.holdsDelayInhibitor());
    EXPECT_TRUE(power.holdsIdleInhibitor());
    EXPECT_EQ(log.count(QStringLiteral("Kovra Connect: cancelling sleep mode.")), 1);

    setPreventSleep(false);
    EXPECT_FALSE(power.holdsIdleInhibitor());
    EXPECT_EQ(log.count(QStringLiteral("Kovra Connect: allowing sleep mode.")), 1);

    setPreventSleep(true);
    settle();
    EXPECT_TRUE(power.holdsIdleInhibitor());
    EXPECT_EQ(log.count(QStringLiteral("Kovra Connect: cancelling sleep mode.")), 2);

    // Switched off again before the lock arrived: it is not kept, and nobody was told it was.
    setPreventSleep(false);
    setPreventSleep(true);
    setPreventSleep(false);
    settle();
    EXPECT_FALSE(power.holdsIdleInhibitor());
    EXPECT_EQ(log.count(QStringLiteral("Kovra Connect: cancelling sleep mode.")), 2);
    // The registration is made once.
    EXPECT_EQ(power.delayTakes, 1);
}

TEST_F(KCDaemonPowerEventsTest, WithoutLogindTheFailureIsLoggedAndTriedAgainAtTheNextFlagChange)
{
    power.available = false;
    store.setObject(true, KCDaemonSettingsStoreKey::PreventSleep);
    startWith({{Alice, QStringLiteral("pw-a")}});
    settle();
    EXPECT_EQ(log.count(QStringLiteral("IORegisterForSystemPower failed")), 1);
    EXPECT_FALSE(power.holdsIdleInhibitor());
    // The daemon runs on.
    mapEveryAccount();
    ASSERT_TRUE(waitForUpdateAnswers(1));

    setPreventSleep(false);
    settle();
    EXPECT_EQ(log.count(QStringLiteral("IORegisterForSystemPower failed")), 2);

    power.available = true;
    setPreventSleep(true);
    settle();
    EXPECT_EQ(power.delayTakes, 3);
    EXPECT_TRUE(power.holdsDelayInhibitor());
    EXPECT_TRUE(power.holdsIdleInhibitor());
}

TEST_F(KCDaemonPowerEventsTest, SleepWaitsForItsUpdateAndWakeSendsAnother)
{
    startMapped();
    int answersWhenReleased = -1;
    power.delayReleased = [&] { answersWhenReleased = client.eventCount(UpdateSent); };
    KCFakeResponse slow = KCFakeResponse::accountStatuses(0);
    slow.delay = 1s;
    service.queueResponse(UpdateEndpoint, slow);

    power.announceSleep();
    EXPECT_EQ(daemon->sleepStatus(), 2);
    EXPECT_EQ(client.eventCount(QStringLiteral("Will sleep...")), 1);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    EXPECT_EQ(lastAwakeStatus(), QStringLiteral("2"));
    EXPECT_TRUE(power.holdsDelayInhibitor());
    ASSERT_TRUE(waitFor([&] { return power.delayReleases == 1; }));
    EXPECT_EQ(answersWhenReleased, 1);
    EXPECT_FALSE(power.holdsDelayInhibitor());

    power.announceWake();
    settle();
    EXPECT_TRUE(power.holdsDelayInhibitor());
    EXPECT_EQ(daemon->sleepStatus(), 1);
    EXPECT_EQ(client.eventCount(QStringLiteral("Did wake...")), 1);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 3));
    EXPECT_EQ(lastAwakeStatus(), QStringLiteral("1"));
    ASSERT_TRUE(waitForUpdateAnswers(2));
    EXPECT_EQ(power.delayReleases, 1);
}

TEST_F(KCDaemonPowerEventsTest, SleepWithNoUpdateToSendGoesOnAtOnce)
{
    startWith({});
    settle();
    power.announceSleep();
    EXPECT_EQ(power.delayReleases, 1);
    EXPECT_EQ(client.eventCount(QStringLiteral("No accounts so not sending an update. This shouldn't occur!")), 1);

    power.announceWake();
    settle();
    ASSERT_TRUE(daemon->addKovraConnectAccount(Alice, QStringLiteral("pw-a")).success);
    mapEveryAccount();
    ASSERT_TRUE(waitForUpdateAnswers(1));
    power.announceSleep();
    ASSERT_TRUE(waitFor([&] { return power.delayReleases == 2; }));
    settle();
    // A second announcement with no wake between finds nothing new to tell the service.
    power.announceSleep();
    EXPECT_EQ(power.delayReleases, 3);
    EXPECT_EQ(client.eventCount(QStringLiteral("No changes detected so not sending update...")), 1);
}

TEST_F(KCDaemonPowerEventsTest, AServiceThatNeverAnswersHoldsTheSystemBackOnlySoLong)
{
    startMapped();
    service.queueResponse(UpdateEndpoint, KCFakeResponse::withFault(KCFakeResponse::Fault::NeverAnswer));
    power.announceSleep();
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    timers.advance(KCDaemonApplicationMain::PowerTransitionDelayLimit - 1ms);
    EXPECT_EQ(power.delayReleases, 0);
    timers.advance(1ms);
    EXPECT_EQ(power.delayReleases, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("Letting the system go on without waiting any longer for the account service")));
}

TEST_F(KCDaemonPowerEventsTest, AnAnswerAfterWakeKeepsTheLockForTheNextSleep)
{
    startMapped();
    KCFakeResponse slow = KCFakeResponse::accountStatuses(0);
    slow.delay = 500ms;
    service.queueResponse(UpdateEndpoint, slow);
    power.announceSleep();
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    // The sleep was called off before the service answered.
    power.announceWake();
    ASSERT_TRUE(waitForUpdateAnswers(2));
    timers.advance(KCDaemonApplicationMain::PowerTransitionDelayLimit);
    EXPECT_EQ(power.delayReleases, 0);
    EXPECT_TRUE(power.holdsDelayInhibitor());
}

TEST_F(KCDaemonPowerEventsTest, PowerOffRemovesTheMappingsBeforeLettingGo)
{
    startMapped();
    KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
    ASSERT_NE(mapper, nullptr);
    int closedWhenReleased = -1;
    power.delayReleased = [&] { closedWhenReleased = mapper->closeCount; };

    power.announcePowerOff();
    EXPECT_EQ(closedWhenReleased, 1);
    EXPECT_TRUE(daemon->kcServices().empty());
    EXPECT_EQ(client.eventCount(QStringLiteral("Will power off...")), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("Kovra Connect: System will power off.")));
    EXPECT_EQ(power.delayReleases, 1);
}
