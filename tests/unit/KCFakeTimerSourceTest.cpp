#include "KCFakeTimerSource.h"

#include <QTest>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace std::chrono_literals;

TEST(KCFakeTimerSource, FiresDueTimersInDeadlineOrderAtTheirOwnTime)
{
    KCFakeTimerSource source;
    std::vector<std::pair<int, std::chrono::milliseconds>> fired;
    auto late = source.createTimer(KCTimerKind::SingleShot, [&] { fired.emplace_back(2, source.now()); });
    auto early = source.createTimer(KCTimerKind::SingleShot, [&] { fired.emplace_back(1, source.now()); });
    late->start(30s);
    early->start(10s);

    source.advance(29s);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0], std::make_pair(1, std::chrono::milliseconds(10s)));
    EXPECT_FALSE(early->isActive());
    EXPECT_TRUE(late->isActive());

    source.advance(1s);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[1], std::make_pair(2, std::chrono::milliseconds(30s)));
    EXPECT_EQ(source.now(), 30s);
}

TEST(KCFakeTimerSource, RestartPushesTheFiringBackAndStopCancelsIt)
{
    KCFakeTimerSource source;
    int fired = 0;
    auto timer = source.createTimer(KCTimerKind::SingleShot, [&] { ++fired; });
    timer->start(5s);
    source.advance(4s);
    timer->start(5s);
    source.advance(4s);
    EXPECT_EQ(fired, 0);
    source.advance(1s);
    EXPECT_EQ(fired, 1);

    timer->start(5s);
    timer->stop();
    source.advance(1h);
    EXPECT_EQ(fired, 1);
}

TEST(KCFakeTimerSource, RepeatingTimersAndTimersArmedOrDestroyedByCallbacks)
{
    KCFakeTimerSource source;
    int ticks = 0;
    auto repeating = source.createTimer(KCTimerKind::Repeating, [&] { ++ticks; });
    repeating->start(10min);

    std::unique_ptr<KCTimer> chained;
    int chainedFired = 0;
    std::unique_ptr<KCTimer> first = source.createTimer(KCTimerKind::SingleShot, [&] {
        chained = source.createTimer(KCTimerKind::SingleShot, [&] { ++chainedFired; });
        chained->start(1s);
        first.reset();
    });
    first->start(1s);

    source.advance(35min);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(chainedFired, 1);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(source.activeTimerCount(), 1);
    EXPECT_EQ(source.nextDeadlineIn(), std::optional<std::chrono::milliseconds>(5min));

    repeating.reset();
    EXPECT_EQ(source.activeTimerCount(), 0);
    EXPECT_FALSE(source.fireNext());
}

TEST(KCTimerSource, SystemTimersFireOnTheEventLoopAndRepeat)
{
    int fired = 0;
    auto timer = KCTimerSource::system().createTimer(KCTimerKind::Repeating, [&] { ++fired; });
    timer->start(1ms);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }, 5000));
    timer->stop();
    EXPECT_FALSE(timer->isActive());
}

TEST(KCTimerSource, SystemTimersTakeDelaysLongerThanQtTimersCan)
{
    // A lease of 2^32-1 seconds: QTimer alone would wrap this to a negative or short interval.
    bool fired = false;
    auto timer = KCTimerSource::system().createTimer(KCTimerKind::SingleShot, [&] { fired = true; });
    timer->start(std::chrono::seconds(std::numeric_limits<uint32_t>::max()));
    QTest::qWait(50);
    EXPECT_FALSE(fired);
    EXPECT_TRUE(timer->isActive());
}
