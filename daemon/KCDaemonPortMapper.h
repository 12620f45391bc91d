#pragma once

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>

class KCDaemonPortMapper;

// Receives every result of a port mapper, always on the main thread.
class KCDaemonPortMapperDelegate {
public:
    virtual ~KCDaemonPortMapperDelegate() = default;
    // statusChanged is a service-discovery result code (KCDNSServiceError); externalAddress is the
    // public IPv4 address in network byte order, 0 when unknown; ttl is the lease in seconds.
    virtual void portMapping(KCDaemonPortMapper *mapper, int32_t statusChanged, uint16_t externalPort,
                             uint32_t externalAddress, uint32_t interfaceIndex, uint32_t ttl) = 0;
};

// Keeps one local port reachable from the Internet through the router, TCP and UDP, and learns the
// router's public address. With local port 0 it maps nothing and only learns the address.
// All calls and all results happen on the main thread. Destroying a mapper closes it.
class KCDaemonPortMapper {
public:
    virtual ~KCDaemonPortMapper() = default;

    // Abandons any current attempt and mapping and starts a new attempt for the local port.
    virtual void tryMappingPort(uint16_t port) = 0;
    // Abandons the attempt, removes an open mapping from the router and ignores late results.
    virtual void close() = 0;
    // Delivers the router's discovery details (an empty map when there are none), discovering
    // first when the mapper has none yet.
    virtual void collectUPNPIGDDiscoveryDiagnosticsWithCompletion(std::function<void(const QVariantMap &)> completion) = 0;

    virtual uint16_t internalPort() const = 0;
    virtual uint16_t externalPort() const = 0;
    // Network byte order, 0 when unknown.
    virtual uint32_t externalAddress() const = 0;
    virtual uint32_t ttl() const = 0;
    virtual bool isWorking() const = 0;
    // "natpmp-pcp" or "miniupnpc": the path that produced the current attempt.
    virtual QString portMappingBackendName() const = 0;
    virtual QVariantMap upnpIGDDiscoveryDiagnostics() const = 0;
};

// Makes the mappers of the daemon: the real one in the daemon, a scripted one in tests.
class KCDaemonPortMapperFactory {
public:
    virtual ~KCDaemonPortMapperFactory() = default;
    virtual std::unique_ptr<KCDaemonPortMapper> createPortMapper(KCDaemonPortMapperDelegate *delegate) = 0;
};
