#include "KCNATLease.h"

#include <algorithm>

namespace KCNATLease {

std::chrono::milliseconds leaseDuration(uint32_t leaseSeconds)
{
    return std::chrono::milliseconds(int64_t(leaseSeconds) * 1000);
}

std::chrono::milliseconds renewalOffset(uint32_t leaseSeconds, int attempt,
                                        const std::function<uint64_t(uint64_t bound)> &uniform)
{
    // At most 2^32 * 1000 < 2^42, so neither the shifts nor the sum can overflow.
    const uint64_t lease = uint64_t(leaseSeconds) * 1000;
    const int k = std::clamp(attempt, 1, 60);
    const uint64_t start = lease - (lease >> k);
    const uint64_t width = lease >> (k + 2);
    return std::chrono::milliseconds(int64_t(start + std::min(uniform(width), width)));
}

} // namespace KCNATLease
