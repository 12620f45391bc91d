#include "KCTimerSource.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

class QtTimer final : public KCTimer {
public:
    QtTimer(KCTimerKind kind, std::function<void()> fire)
        : m_kind(kind)
        , m_fire(std::move(fire))
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { elapsed(); });
    }

    void start(std::chrono::milliseconds interval) override
    {
        m_interval = std::max(interval, std::chrono::milliseconds(0));
        m_remaining = m_interval;
        armStep();
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    // QTimer takes its interval as an int of milliseconds, so a long delay (a router may grant a
    // lease of 2^32-1 seconds) is waited out in steps that fit.
    static constexpr std::chrono::milliseconds MaximumStep{std::numeric_limits<int>::max()};

    void armStep()
    {
        const auto step = std::min(m_remaining, MaximumStep);
        m_remaining -= step;
        // Long delays need no sub-second precision; coarse timers let the kernel batch wake-ups.
        m_timer.setTimerType(step >= std::chrono::seconds(20) ? Qt::VeryCoarseTimer : Qt::CoarseTimer);
        m_timer.start(step);
    }

    void elapsed()
    {
        if (m_remaining > std::chrono::milliseconds(0)) {
            armStep();
            return;
        }
        if (m_kind == KCTimerKind::Repeating) {
            m_remaining = m_interval;
            armStep();
        }
        // The callback may destroy this timer, so nothing touches it afterwards.
        auto fire = m_fire;
        fire();
    }

    KCTimerKind m_kind;
    std::function<void()> m_fire;
    std::chrono::milliseconds m_interval{0};
    std::chrono::milliseconds m_remaining{0};
    QTimer m_timer;
};

class QtTimerSource final : public KCTimerSource {
public:
    QtTimerSource() { m_clock.start(); }

    std::unique_ptr<KCTimer> createTimer(KCTimerKind kind, std::function<void()> fire) override
    {
        return std::make_unique<QtTimer>(kind, std::move(fire));
    }
    std::chrono::milliseconds now() const override { return std::chrono::milliseconds(m_clock.elapsed()); }

private:
    QElapsedTimer m_clock;
};

} // namespace

KCTimerSource &KCTimerSource::system()
{
    static QtTimerSource source;
    return source;
}
