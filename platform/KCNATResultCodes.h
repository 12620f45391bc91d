#pragma once

#include <cstdint>

// The router's result codes as the service-discovery codes callers know (KCDNSServiceError):
//
// | Router says                           | NAT-PMP | PCP | Caller gets                      |
// |---------------------------------------|---------|-----|----------------------------------|
// | success                               | 0       | 0   | 0 NoError                        |
// | unsupported version                   | 1       | 1   | -65564 NAT port mapping unsupported |
// | not authorized / refused              | 2       | 2   | -65565 NAT port mapping disabled |
// | network failure (no public address)   | 3       | 7   | -65557 NAT traversal             |
// | out of resources                      | 4       | 8   | -65557 NAT traversal             |
// | unsupported opcode                    | 5       | 4   | -65564 NAT port mapping unsupported |
// | malformed request                     |         | 3   | -65540 Bad param                 |
// | unsupported option, malformed option  |         | 5, 6| -65540 Bad param                 |
// | unsupported protocol                  |         | 9   | -65564 NAT port mapping unsupported |
// | user quota exceeded                   |         | 10  | -65557 NAT traversal             |
// | cannot provide external               |         | 11  | -65557 NAT traversal             |
// | address mismatch (a NAT before it)    |         | 12  | -65558 Double NAT                |
// | excessive remote peers                |         | 13  | -65557 NAT traversal             |
// | any other code                        |         |     | -65537 Unknown                   |
//
// The client itself adds: no answer after three tries -65568 Timeout; an ICMP port-unreachable
// from the router -65564 NAT port mapping unsupported; no default route -65566 No router.
namespace KCNATResultCodes {
int32_t fromNatPmp(uint16_t result);
int32_t fromPcp(uint16_t result);
} // namespace KCNATResultCodes
