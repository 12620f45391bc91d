#pragma once

#include "KCDaemonPortMapper.h"
#include "KCDaemonUPnPJobs.h"
#include "KCDefaultsStore.h"
#include "KCNATPortMappingService.h"
#include "KCTimerSource.h"
#include "KCUPnPIGDClient.h"

#include <QString>
#include <QVariantMap>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class KCDaemonUPnPQueue;

// One result of an attempt, as the router's port-mapping service replies or as the mapper makes
// it up itself: the same fields in the same order.
using DNSServiceNATResponse = KCNATPortMappingReply;

// The port mapper on a real router. An attempt goes first through the router's port-mapping
// service (NAT-PMP/PCP), which keeps the mapping alive while its request is open; when that
// fails, once per attempt, it falls back to UPnP IGD control, whose blocking work runs on the
// mapper's own worker thread. A UPnP mapping is checked every ten minutes. Every result goes to
// the delegate on the main thread.
class KCDaemonRouterPortMapper final : public KCDaemonPortMapper {
public:
    // The IPv4 default gateway in network byte order, 0 when there is none. Asked on the main
    // thread each time UPnP work is queued.
    using GatewayProvider = std::function<uint32_t()>;

    // The delegate, the service, the store and the timer source must outlive the mapper. The
    // UPnP client is shared with the worker thread, which may still use it after the mapper is
    // gone (to remove what it mapped). The verification timer runs on the timer source.
    KCDaemonRouterPortMapper(KCDaemonPortMapperDelegate *delegate, KCNATPortMappingService &natService,
        std::shared_ptr<KCUPnPIGDClient> upnpClient, KCDefaultsStore &store, KCTimerSource &timers,
        GatewayProvider gateway);
    // Closes the mapper. Never waits for the worker thread: a removal it queued runs after the
    // mapper is gone.
    ~KCDaemonRouterPortMapper() override;
    KCDaemonRouterPortMapper(const KCDaemonRouterPortMapper &) = delete;
    KCDaemonRouterPortMapper &operator=(const KCDaemonRouterPortMapper &) = delete;

    void tryMappingPort(uint16_t port) override;
    void close() override;
    void collectUPNPIGDDiscoveryDiagnosticsWithCompletion(std::function<void(const QVariantMap &)> completion) override;

    uint16_t internalPort() const override { return _internalPort; }
    uint16_t externalPort() const override { return _externalPort; }
    uint32_t externalAddress() const override { return _externalAddress; }
    uint32_t ttl() const override { return _ttl; }
    bool isWorking() const override { return _working; }
    QString portMappingBackendName() const override;
    QVariantMap upnpIGDDiscoveryDiagnostics() const override;

    // The preferred public port kept in the store under "lastMappedPort", 10000 to 49151.
    // storedExternalPort() forgets a stored value outside that range and returns 0 for it;
    // preferredExternalPort() draws and stores a new one when none is stored;
    // rememberExternalPort() stores a port in the range and forgets the stored one otherwise.
    uint16_t storedExternalPort();
    uint16_t preferredExternalPort();
    void rememberExternalPort(uint16_t port);

    static constexpr std::chrono::seconds upnpVerificationInterval{600};
    static const QString natPmpPcpBackendName;
    static const QString miniupnpcBackendName;
    static const QString lastMappedPortKey;

private:
    struct Liveness {};

    // The router's port-mapping service.
    void tryMappingPortAppleAPI(uint16_t port);
    bool responseIsSuccessful(const DNSServiceNATResponse &response) const;
    void fallbackToUPnPAfterResponse(const DNSServiceNATResponse &response);
    void _gotResponse(const DNSServiceNATResponse &response);
    DNSServiceNATResponse responseWithStatus(int32_t status, uint16_t externalPort, uint32_t externalAddress,
        uint32_t ttl) const;
    void releaseService();
    void raiseGeneration();

    // UPnP IGD control.
    void tryMappingPortUsingUPNP(uint16_t port);
    void applyMappingResult(uint64_t generation, uint32_t gateway, const KCDaemonUPnPJobResult &result);
    void startUPNPVerificationTimer();
    void stopUPNPVerificationTimer();
    void queueVerification(uint64_t generation, uint16_t externalPort);
    void applyVerificationResult(uint64_t generation, const KCDaemonUPnPJobResult &result);
    void queueRemovalOfOpenUPnPMapping();
    void forgetConflictedPorts(const QList<uint16_t> &ports);
    uint32_t currentGateway() const;

    KCDaemonPortMapperDelegate *_delegate;
    std::unique_ptr<KCNATPortMappingRequest> _service;
    uint16_t _internalPort = 0;
    uint16_t _externalPort = 0;
    uint32_t _externalAddress = 0;
    std::shared_ptr<KCDaemonUPnPQueue> _upnpQueue;
    std::unique_ptr<KCTimer> _upnpVerifyTimer;
    QString _portMappingBackendName;
    bool _triedUPnPThisCycle = false;
    bool _upnpMappingOpen = false;
    bool _closed = false;
    uint16_t _upnpMappedExternalPort = 0;
    uint64_t _mappingGeneration = 0;
    std::optional<QVariantMap> _upnpIGDDiscoveryDiagnostics;
    bool _working = false;
    uint32_t _ttl = 0;

    KCNATPortMappingService &_natService;
    std::shared_ptr<KCUPnPIGDClient> _upnpClient;
    KCDefaultsStore &_store;
    KCTimerSource &_timers;
    GatewayProvider _gateway;
    // Results handed back from the worker thread hold a weak reference to this, checked on the
    // main thread, so a result that outlives the mapper finds it gone.
    std::shared_ptr<Liveness> _liveness = std::make_shared<Liveness>();
};
