#include "KCTimerSource.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

class QtTimer final : public KCTimer {
public:
    QtTimer(KCTimerKind kind, std::function<void()> fire)
        : m_fire(std::move(fire))
    {
        m_timer.setSingleShot(kind == KCTimerKind::SingleShot);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { m_fire(); });
    }

    void start(std::chrono::milliseconds interval) override
    {
        // Long delays need no sub-second precision; coarse timers let the kernel batch wake-ups.
        m_timer.setTimerType(interval >= std::chrono::seconds(20) ? Qt::VeryCoarseTimer : Qt::CoarseTimer);
        m_timer.start(interval);
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    std::function<void()> m_fire;
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
