#include "KCFakeTimerSource.h"

#include <optional>
#include <utility>

class KCFakeTimerSource::Timer final : public KCTimer {
public:
    Timer(KCFakeTimerSource *source, KCTimerKind kind, std::function<void()> fire)
        : m_source(source)
        , m_alive(source->m_alive)
        , m_kind(kind)
        , m_fire(std::move(fire))
    {
    }
    ~Timer() override
    {
        if (*m_alive)
            m_source->disarm(this);
    }

    void start(std::chrono::milliseconds interval) override
    {
        m_interval = interval;
        m_source->arm(this, interval);
    }
    void stop() override { m_source->disarm(this); }
    bool isActive() const override { return m_key.has_value(); }

    KCFakeTimerSource *m_source;
    std::shared_ptr<bool> m_alive;
    KCTimerKind m_kind;
    std::function<void()> m_fire;
    std::chrono::milliseconds m_interval{0};
    std::optional<std::pair<std::chrono::milliseconds, uint64_t>> m_key;
};

KCFakeTimerSource::KCFakeTimerSource()
    : m_alive(std::make_shared<bool>(true))
{
}

KCFakeTimerSource::~KCFakeTimerSource()
{
    *m_alive = false;
    for (auto &[key, timer] : m_queue)
        timer->m_key.reset();
}

std::unique_ptr<KCTimer> KCFakeTimerSource::createTimer(KCTimerKind kind, std::function<void()> fire)
{
    return std::make_unique<Timer>(this, kind, std::move(fire));
}

void KCFakeTimerSource::arm(Timer *timer, std::chrono::milliseconds interval)
{
    disarm(timer);
    const auto key = std::make_pair(m_now + interval, m_sequence++);
    timer->m_key = key;
    m_queue.emplace(key, timer);
}

void KCFakeTimerSource::disarm(Timer *timer)
{
    if (timer->m_key) {
        m_queue.erase(*timer->m_key);
        timer->m_key.reset();
    }
}

bool KCFakeTimerSource::fireNext()
{
    if (m_queue.empty())
        return false;
    auto it = m_queue.begin();
    Timer *timer = it->second;
    m_now = it->first.first;
    m_queue.erase(it);
    timer->m_key.reset();
    if (timer->m_kind == KCTimerKind::Repeating)
        arm(timer, timer->m_interval);
    // The callback may destroy the timer, so it runs from a copy.
    auto fire = timer->m_fire;
    fire();
    return true;
}

void KCFakeTimerSource::advance(std::chrono::milliseconds by)
{
    const auto target = m_now + by;
    while (!m_queue.empty() && m_queue.begin()->first.first <= target)
        fireNext();
    m_now = target;
}

std::optional<std::chrono::milliseconds> KCFakeTimerSource::nextDeadlineIn() const
{
    if (m_queue.empty())
        return std::nullopt;
    return m_queue.begin()->first.first - m_now;
}

int KCFakeTimerSource::activeTimerCount() const
{
    return int(m_queue.size());
}
