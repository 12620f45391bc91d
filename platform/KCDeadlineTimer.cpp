#include "KCDeadlineTimer.h"

#include <algorithm>

namespace {
constexpr std::chrono::milliseconds LongestStep = std::chrono::hours(24);
}

KCDeadlineTimer::KCDeadlineTimer(KCTimerSource &timers, std::function<void()> fire)
    : m_timers(timers)
    , m_fire(std::move(fire))
    , m_timer(timers.createTimer(KCTimerKind::SingleShot, [this] { onTimer(); }))
{
}

void KCDeadlineTimer::startAt(std::chrono::milliseconds deadline)
{
    m_deadline = deadline;
    armTowardsDeadline();
}

void KCDeadlineTimer::stop()
{
    m_timer->stop();
}

void KCDeadlineTimer::armTowardsDeadline()
{
    const auto remaining = std::max(m_deadline - m_timers.now(), std::chrono::milliseconds(0));
    m_timer->start(std::min(remaining, LongestStep));
}

void KCDeadlineTimer::onTimer()
{
    if (m_timers.now() < m_deadline) {
        armTowardsDeadline();
        return;
    }
    m_fire();
}
