#pragma once

#include <chrono>
#include <functional>
#include <memory>

// Every delay the daemon waits on (retries, the daily update, lease renewals, the network-change
// settling time) comes from a timer source, so tests can drive time instead of waiting for it.

class KCTimer {
public:
    virtual ~KCTimer() = default;
    // Arms the timer to fire after the interval (and, for a repeating timer, every interval after
    // that). Starting an armed timer re-arms it: the earlier firing is cancelled.
    virtual void start(std::chrono::milliseconds interval) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

enum class KCTimerKind { SingleShot, Repeating };

class KCTimerSource {
public:
    virtual ~KCTimerSource() = default;
    // The timer calls fire on the thread that created it. Destroying the timer cancels it.
    virtual std::unique_ptr<KCTimer> createTimer(KCTimerKind kind, std::function<void()> fire) = 0;
    // Monotonic time, for measuring elapsed intervals against the same clock the timers use.
    virtual std::chrono::milliseconds now() const = 0;

    // Qt's timers on the current thread's event loop and the monotonic clock.
    static KCTimerSource &system();
};
