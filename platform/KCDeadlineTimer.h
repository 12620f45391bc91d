#pragma once

#include "KCTimerSource.h"

#include <chrono>
#include <functional>
#include <memory>

// A single-shot timer for a moment on a timer source's clock, however far off. It arms the
// underlying timer a day at a time at most, so no delay overflows a platform timer (a lease of
// 2^32-1 seconds renews 68 years out), and it never fires before the moment, even when the
// platform timer fires a little early.
class KCDeadlineTimer {
public:
    KCDeadlineTimer(KCTimerSource &timers, std::function<void()> fire);

    // Re-arms the timer: an earlier moment is forgotten. A moment already past fires at once,
    // through the timer source, never inside this call.
    void startAt(std::chrono::milliseconds deadline);
    void stop();
    bool isActive() const { return m_timer->isActive(); }

private:
    void armTowardsDeadline();
    void onTimer();

    KCTimerSource &m_timers;
    std::function<void()> m_fire;
    std::unique_ptr<KCTimer> m_timer;
    std::chrono::milliseconds m_deadline{0};
};
