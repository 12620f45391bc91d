#pragma once

#include "KCTimerSource.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

// A timer source whose clock moves only when a test says so. advance() fires every timer that
// falls due, in deadline order, each at its own deadline, including timers armed by the callbacks
// it runs.
class KCFakeTimerSource final : public KCTimerSource {
public:
    KCFakeTimerSource();
    ~KCFakeTimerSource() override;

    std::unique_ptr<KCTimer> createTimer(KCTimerKind kind, std::function<void()> fire) override;
    std::chrono::milliseconds now() const override { return m_now; }

    void advance(std::chrono::milliseconds by);
    // Moves the clock to the next deadline and fires what is due then; false when nothing is armed.
    bool fireNext();
    // Time until the earliest armed timer fires, if any.
    std::optional<std::chrono::milliseconds> nextDeadlineIn() const;
    int activeTimerCount() const;

private:
    class Timer;
    friend class Timer;
    struct Entry;

    void arm(Timer *timer, std::chrono::milliseconds interval);
    void disarm(Timer *timer);

    std::chrono::milliseconds m_now{0};
    uint64_t m_sequence = 0;
    // Keyed by (deadline, arming order) so timers due at the same moment fire in the order armed.
    std::map<std::pair<std::chrono::milliseconds, uint64_t>, Timer *> m_queue;
    std::shared_ptr<bool> m_alive;
};
