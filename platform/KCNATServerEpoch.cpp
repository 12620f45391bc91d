#include "KCNATServerEpoch.h"

namespace {

// Both checks in signed 64-bit integers: epochs are 32-bit and our clock is milliseconds since
// start, so nothing here can overflow or wrap.
bool natPmpConsistent(int64_t previousEpoch, int64_t epoch, int64_t clientDeltaMs)
{
    // The router's clock may run slow by an eighth and lag by two seconds; any further behind
    // than that and it restarted.
    const int64_t expectedMs = previousEpoch * 1000 + clientDeltaMs * 7 / 8;
    return epoch * 1000 + 2000 >= expectedMs;
}

bool pcpConsistent(int64_t previousEpoch, int64_t epoch, int64_t clientDeltaMs)
{
    // A second backwards is reordering; more is a restart.
    if (epoch + 1 < previousEpoch)
        return false;
    const int64_t clientDelta = clientDeltaMs / 1000;
    const int64_t serverDelta = epoch - previousEpoch;
    return !(clientDelta + 2 < serverDelta - serverDelta / 16 || serverDelta + 2 < clientDelta - clientDelta / 16);
}

} // namespace

bool KCNATServerEpoch::observe(uint32_t epoch, std::chrono::milliseconds now, Rule rule)
{
    bool consistent = true;
    if (m_previous) {
        const int64_t clientDeltaMs = (now - m_previous->clock).count();
        consistent = rule == Rule::NatPmp ? natPmpConsistent(m_previous->epoch, epoch, clientDeltaMs)
                                          : pcpConsistent(m_previous->epoch, epoch, clientDeltaMs);
    }
    m_previous = Sample{epoch, now};
    return consistent;
}
