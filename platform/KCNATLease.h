#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

// Lease arithmetic of a router port mapping. Leases come from the router and may be anything
// from 0 to 2^32-1 seconds; everything here works in 64-bit milliseconds, where no such lease
// can overflow.
namespace KCNATLease {

// What a requested lease of 0 stands for.
constexpr uint32_t DefaultLease = 7200;

// Renewals of one mapping never go out closer together than this (RFC 6887, section 11.2.1).
constexpr std::chrono::milliseconds MinimumRenewalSpacing{4000};

std::chrono::milliseconds leaseDuration(uint32_t leaseSeconds);

// When renewal attempt `attempt` (1 for the first) of a lease is due, counted from the moment
// the lease was granted: the first in [1/2, 5/8] of the lease, the second in [3/4, 3/4 + 1/16],
// the third in [7/8, 7/8 + 1/32] and so on, each halving what remains (RFC 6887, section
// 11.2.1). `uniform` returns a number in [0, bound], drawn evenly.
std::chrono::milliseconds renewalOffset(uint32_t leaseSeconds, int attempt,
                                        const std::function<uint64_t(uint64_t bound)> &uniform);

} // namespace KCNATLease
