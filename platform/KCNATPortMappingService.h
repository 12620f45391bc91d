#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// The system's router port-mapping service: asks the router to forward a public port to a local
// one, keeps the mapping alive while the request is open, and tells the caller what the router
// granted, again whenever that changes.

// Protocol bits of a request, numbered as the service-discovery API numbers them.
namespace KCNATProtocol {
constexpr uint32_t UDP = 1;
constexpr uint32_t TCP = 2;
} // namespace KCNATProtocol

// The lease a request of lease 0 asks for, in seconds.
constexpr uint32_t KCNATDefaultLease = 7200;

struct KCNATPortMappingParameters {
    uint32_t flags = 0;          // none are defined; any bit set is refused
    uint32_t interfaceIndex = 0; // 0: the default route's interface; else the request needs the router there
    uint32_t protocols = 0;      // KCNATProtocol bits; 0 (with internal port 0) only asks for the public address
    uint16_t internalPort = 0;   // host byte order
    uint16_t externalPort = 0;   // the public port asked for, host byte order; 0 lets the router choose
    uint32_t ttl = 0;            // lease asked for in seconds; 0 asks for KCNATDefaultLease
};

struct KCNATPortMappingReply {
    uint32_t flags = 0;
    uint32_t interfaceIndex = 0;  // the router's interface; 0 when there is no router
    int32_t errorCode = 0;        // a KCDNSServiceError code
    uint32_t externalAddress = 0; // public IPv4 address in network byte order; 0 if unknown or on error
    uint32_t protocol = 0;        // KCNATProtocol bits mapped; on error the bits asked for
    uint16_t internalPort = 0;    // host byte order, as asked
    uint16_t externalPort = 0;    // host byte order; 0 on error and for an address-only request
    uint32_t ttl = 0;             // granted lease in seconds; 0 on error and for an address-only request
};

// An open request. Destroying it releases it: its mappings are deleted on the router, best
// effort and without waiting, and no reply is delivered after that.
class KCNATPortMappingRequest {
public:
    KCNATPortMappingRequest() = default;
    virtual ~KCNATPortMappingRequest() = default;
    KCNATPortMappingRequest(const KCNATPortMappingRequest &) = delete;
    KCNATPortMappingRequest &operator=(const KCNATPortMappingRequest &) = delete;
};

class KCNATPortMappingService {
public:
    // Called on the thread that opened the request, from its event loop (never from inside
    // createPortMapping), once per outcome: the first result, then again whenever the router's
    // answer changes (a new public address or port, a router that restarted, a lease that ran
    // out). The handler may destroy the request.
    using ReplyHandler = std::function<void(const KCNATPortMappingReply &reply)>;

    struct Creation {
        int32_t errorCode = 0; // non-zero: nothing was opened and no reply will come
        std::unique_ptr<KCNATPortMappingRequest> request;
    };

    virtual ~KCNATPortMappingService() = default;

    // Opens a request. The service must outlive the requests it opened.
    virtual Creation createPortMapping(const KCNATPortMappingParameters &parameters, ReplyHandler onReply) = 0;
};
