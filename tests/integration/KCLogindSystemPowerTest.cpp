#include "KCFakeLogindControl.h"
#include "KCLogindSystemPower.h"
#include "KCPrivateSystemBus.h"

#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

using Error = std::optional<KCError>;

class KCLogindSystemPowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        connection = bus.connect();
        control = bus.connect();
    }

    // Takes a lock and waits for the outcome.
    static std::optional<Error> take(KCSystemPower &power, void (KCSystemPower::*takeLock)(KCSystemPower::Completion))
    {
        std::optional<Error> outcome;
        (power.*takeLock)([&](const Error &error) { outcome = error; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 30000));
        return outcome;
    }

    // The inhibitors the fake logind holds with that mode, as (what, open) pairs.
    std::vector<std::pair<QString, bool>> inhibitors(const QString &mode)
    {
        std::vector<std::pair<QString, bool>> found;
        for (const QVariant &entry : KCFakeLogindControl(control).inhibitors()) {
            const QVariantMap inhibitor = entry.toMap();
            if (inhibitor.value(QStringLiteral("mode")).toString() == mode)
                found.emplace_back(inhibitor.value(QStringLiteral("what")).toString(),
                                   inhibitor.value(QStringLiteral("open")).toBool());
        }
        return found;
    }

    KCPrivateSystemBus bus;
    QDBusConnection connection{QString()};
    QDBusConnection control{QString()};
};

TEST_F(KCLogindSystemPowerTest, TheIdleLockIsHeldExactlyWhileTaken)
{
    const auto logind = bus.startFakeLogind();
    ASSERT_TRUE(logind);
    KCLogindSystemPower power(connection);

    const auto taken = take(power, &KCSystemPower::takeIdleInhibitor);
    ASSERT_TRUE(taken);
    EXPECT_FALSE(*taken);
    EXPECT_TRUE(power.holdsIdleInhibitor());
    EXPECT_TRUE(logind->waitForLine(QStringLiteral("inhibit idle block Kovra Connect")));
    EXPECT_EQ(inhibitors(QStringLiteral("block")), (std::vector<std::pair<QString, bool>>{{QStringLiteral("idle"), true}}));

    // Taking it again while held asks logind for nothing new.
    ASSERT_TRUE(take(power, &KCSystemPower::takeIdleInhibitor));
    EXPECT_EQ(inhibitors(QStringLiteral("block")).size(), 1u);

    power.releaseIdleInhibitor();
    EXPECT_FALSE(power.holdsIdleInhibitor());
    EXPECT_TRUE(logind->waitForLine(QStringLiteral("released idle block")));
    EXPECT_EQ(inhibitors(QStringLiteral("block")), (std::vector<std::pair<QString, bool>>{{QStringLiteral("idle"), false}}));
}

TEST_F(KCLogindSystemPowerTest, AReleaseWhileTheTakeIsUnderWayLetsTheLockGo)
{
    const auto logind = bus.startFakeLogind();
    ASSERT_TRUE(logind);
    KCLogindSystemPower power(connection);

    std::optional<Error> outcome;
    power.takeIdleInhibitor([&](const Error &error) { outcome = error; });
    power.releaseIdleInhibitor();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 30000));
    EXPECT_FALSE(power.holdsIdleInhibitor());
    EXPECT_TRUE(logind->waitForLine(QStringLiteral("released idle block")));
}

TEST_F(KCLogindSystemPowerTest, SleepWaitsForTheDelayLockWhichReturnsOnWake)
{
    const auto logind = bus.startFakeLogind();
    ASSERT_TRUE(logind);
    KCLogindSystemPower power(connection);
    ASSERT_TRUE(take(power, &KCSystemPower::takeDelayInhibitor));
    ASSERT_TRUE(power.holdsDelayInhibitor());

    // The handler finds the lock still held, does its work and then lets the system go on.
    std::vector<QString> events;
    QObject::connect(&power, &KCSystemPower::willSleep, [&] {
        events.push_back(power.holdsDelayInhibitor() ? QStringLiteral("will sleep, lock held")
                                                     : QStringLiteral("will sleep, lock gone"));
        power.releaseDelayInhibitor();
    });
    QObject::connect(&power, &KCSystemPower::didWake, [&] { events.push_back(QStringLiteral("did wake")); });
    QObject::connect(&power, &KCSystemPower::willPowerOff, [&] {
        events.push_back(QStringLiteral("will power off"));
        power.releaseDelayInhibitor();
    });

    KCFakeLogindControl logindControl(control);
    const QVariantMap slept = KCFakeLogindControl::answerOf(logindControl.suspend());
    EXPECT_EQ(slept.value(QStringLiteral("delayLocks")).toInt(), 1);
    EXPECT_TRUE(slept.value(QStringLiteral("released")).toBool());

    ASSERT_TRUE(logindControl.resume());
    ASSERT_TRUE(QTest::qWaitFor([&] { return power.holdsDelayInhibitor(); }, 30000));
    EXPECT_TRUE(logind->waitForLine(QStringLiteral("inhibit sleep:shutdown delay")));

    const QVariantMap stopped = KCFakeLogindControl::answerOf(logindControl.powerOff());
    EXPECT_EQ(stopped.value(QStringLiteral("delayLocks")).toInt(), 1);
    EXPECT_TRUE(stopped.value(QStringLiteral("released")).toBool());

    EXPECT_EQ(events, (std::vector<QString>{QStringLiteral("will sleep, lock held"), QStringLiteral("did wake"),
                                            QStringLiteral("will power off")}));
    EXPECT_EQ(inhibitors(QStringLiteral("delay")),
              (std::vector<std::pair<QString, bool>>{{QStringLiteral("sleep:shutdown"), false},
                                                     {QStringLiteral("sleep:shutdown"), false}}));
}

TEST_F(KCLogindSystemPowerTest, WithoutLogindTheTakesFailAndALaterTakeSucceeds)
{
    KCLogindSystemPower power(connection);
    for (auto takeLock : {&KCSystemPower::takeIdleInhibitor, &KCSystemPower::takeDelayInhibitor}) {
        const auto outcome = take(power, takeLock);
        ASSERT_TRUE(outcome);
        ASSERT_TRUE(*outcome);
        EXPECT_EQ((*outcome)->domain, QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"));
        EXPECT_FALSE((*outcome)->failureReason().isEmpty());
    }
    EXPECT_FALSE(power.holdsIdleInhibitor());
    EXPECT_FALSE(power.holdsDelayInhibitor());

    // logind came up: the next flag change takes the lock, and its signals now arrive.
    const auto logind = bus.startFakeLogind();
    ASSERT_TRUE(logind);
    const auto retried = take(power, &KCSystemPower::takeIdleInhibitor);
    ASSERT_TRUE(retried);
    EXPECT_FALSE(*retried);
    EXPECT_TRUE(power.holdsIdleInhibitor());

    QSignalSpy woke(&power, &KCSystemPower::didWake);
    ASSERT_TRUE(KCFakeLogindControl(control).resume());
    EXPECT_TRUE(woke.wait(30000));
}

} // namespace
