#include "KCDaemonRouterPortMapper.h"

#include "KCDNSServiceError.h"
#include "KCDaemonUPnPQueue.h"
#include "KCLog.h"

namespace {

constexpr uint16_t kFirstPreferredPort = 10000;
constexpr uint16_t kLastPreferredPort = 49151;
// A mapping to a privileged public port is not what anyone asked for: the router handed out a
// port we cannot tell a viewer to use alongside other services on it.
constexpr uint16_t kFirstUsablePublicPort = 1024;

bool isPreferredPort(qint64 port)
{
    return port >= kFirstPreferredPort && port <= kLastPreferredPort;
}

} // namespace

const QString KCDaemonRouterPortMapper::natPmpPcpBackendName = QStringLiteral("natpmp-pcp");
const QString KCDaemonRouterPortMapper::miniupnpcBackendName = QStringLiteral("miniupnpc");
const QString KCDaemonRouterPortMapper::lastMappedPortKey = QStringLiteral("lastMappedPort");

KCDaemonRouterPortMapper::KCDaemonRouterPortMapper(KCDaemonPortMapperDelegate *delegate,
    KCNATPortMappingService &natService, std::shared_ptr<KCUPnPIGDClient> upnpClient, KCDefaultsStore &store,
    KCTimerSource &timers, GatewayProvider gateway)
    : _delegate(delegate)
    , _upnpQueue(std::make_shared<KCDaemonUPnPQueue>())
    , _portMappingBackendName(natPmpPcpBackendName)
    , _natService(natService)
    , _upnpClient(std::move(upnpClient))
    , _store(store)
    , _timers(timers)
    , _gateway(std::move(gateway))
{
    _externalPort = storedExternalPort();
}

KCDaemonRouterPortMapper::~KCDaemonRouterPortMapper()
{
    close();
}

QString KCDaemonRouterPortMapper::portMappingBackendName() const
{
    return _portMappingBackendName.isEmpty() ? natPmpPcpBackendName : _portMappingBackendName;
}

QVariantMap KCDaemonRouterPortMapper::upnpIGDDiscoveryDiagnostics() const
{
    return _upnpIGDDiscoveryDiagnostics.value_or(QVariantMap());
}

uint16_t KCDaemonRouterPortMapper::storedExternalPort()
{
    const qint64 port = _store.integerForKey(lastMappedPortKey);
    if (isPreferredPort(port))
        return uint16_t(port);
    if (port != 0)
        _store.removeObject(lastMappedPortKey);
    return 0;
}

uint16_t KCDaemonRouterPortMapper::preferredExternalPort()
{
    if (const uint16_t stored = storedExternalPort())
        return stored;
    const uint16_t port = KCDaemonUPnPJobs::randomExternalPort();
    _store.setInteger(port, lastMappedPortKey);
    return port;
}

void KCDaemonRouterPortMapper::rememberExternalPort(uint16_t port)
{
    if (isPreferredPort(port))
        _store.setInteger(port, lastMappedPortKey);
    else
        _store.removeObject(lastMappedPortKey);
}

void KCDaemonRouterPortMapper::tryMappingPort(uint16_t port)
{
    stopUPNPVerificationTimer();
    releaseService();
    queueRemovalOfOpenUPnPMapping();
    _upnpMappingOpen = false;
    _upnpMappedExternalPort = 0;
    _upnpIGDDiscoveryDiagnostics.reset();
    _closed = false;
    raiseGeneration();
    _triedUPnPThisCycle = false;
    _internalPort = port;
    _working = true;
    tryMappingPortAppleAPI(port);
}

void KCDaemonRouterPortMapper::close()
{
    _closed = true;
    raiseGeneration();
    stopUPNPVerificationTimer();
    releaseService();
    queueRemovalOfOpenUPnPMapping();
    _upnpMappingOpen = false;
    _upnpMappedExternalPort = 0;
    _working = false;
}

void KCDaemonRouterPortMapper::raiseGeneration()
{
    ++_mappingGeneration;
    _upnpQueue->setGeneration(_mappingGeneration);
}

void KCDaemonRouterPortMapper::releaseService()
{
    _service.reset();
}

void KCDaemonRouterPortMapper::tryMappingPortAppleAPI(uint16_t port)
{
    releaseService();
    _working = true;
    _internalPort = port;
    _portMappingBackendName = natPmpPcpBackendName;

    KCNATPortMappingParameters parameters;
    parameters.flags = 0;
    parameters.interfaceIndex = 0;
    if (port != 0) {
        parameters.protocols = KCNATProtocol::TCP | KCNATProtocol::UDP;
        parameters.externalPort = preferredExternalPort();
    }
    parameters.internalPort = port;
    parameters.ttl = 0;

    KCNATPortMappingService::Creation creation = _natService.createPortMapping(parameters,
        [this](const DNSServiceNATResponse &response) {
            if (responseIsSuccessful(response))
                _gotResponse(response);
            else
                fallbackToUPnPAfterResponse(response);
        });
    if (creation.errorCode == KCDNSServiceError::NoError && creation.request) {
        _service = std::move(creation.request);
        return;
    }
    const int32_t error = creation.errorCode != KCDNSServiceError::NoError ? creation.errorCode
                                                                           : KCDNSServiceError::Unknown;
    qCWarning(lcKC).noquote() << QStringLiteral("Port mapping attempt failed with error %1").arg(error);
    // The service already holds a mapping of this port for us: what we last learnt still stands.
    const bool alreadyRegistered = error == KCDNSServiceError::AlreadyRegistered;
    fallbackToUPnPAfterResponse(responseWithStatus(error, alreadyRegistered ? _externalPort : 0,
        alreadyRegistered ? _externalAddress : 0, 0));
}

bool KCDaemonRouterPortMapper::responseIsSuccessful(const DNSServiceNATResponse &response) const
{
    return response.errorCode == KCDNSServiceError::NoError && response.externalAddress != 0
        && (_internalPort == 0 || response.externalPort >= kFirstUsablePublicPort);
}

void KCDaemonRouterPortMapper::fallbackToUPnPAfterResponse(const DNSServiceNATResponse &response)
{
    if (_closed || _triedUPnPThisCycle || _internalPort == 0) {
        _gotResponse(response);
        return;
    }
    _triedUPnPThisCycle = true;
    releaseService();
    qCInfo(lcKC).noquote()
        << QStringLiteral("Port mapping attempt failed with Apple API status %1. Falling back to miniupnpc.")
               .arg(response.errorCode);
    tryMappingPortUsingUPNP(_internalPort);
}

void KCDaemonRouterPortMapper::_gotResponse(const DNSServiceNATResponse &response)
{
    _working = false;
    _externalPort = response.externalPort;
    _externalAddress = response.externalAddress;
    _ttl = response.ttl;
    rememberExternalPort(response.externalPort);
    // Last: the delegate may destroy the mapper.
    _delegate->portMapping(this, response.errorCode, response.externalPort, response.externalAddress,
        response.interfaceIndex, response.ttl);
}

DNSServiceNATResponse KCDaemonRouterPortMapper::responseWithStatus(int32_t status, uint16_t externalPort,
    uint32_t externalAddress, uint32_t ttl) const
{
    DNSServiceNATResponse response;
    response.errorCode = status;
    response.externalAddress = externalAddress;
    response.internalPort = _internalPort;
    response.externalPort = externalPort;
    response.ttl = ttl;
    return response;
}

// UPnP IGD control. The jobs run on the worker thread and see nothing of the mapper but values
// copied when they were queued; what they learn comes back to the main thread, where a weak
// reference tells whether the mapper is still there to take it.

namespace {

void queueRemoval(KCDaemonUPnPQueue &queue, std::shared_ptr<KCUPnPIGDClient> client, uint32_t gateway,
    uint16_t externalPort)
{
    queue.async([client = std::move(client), gateway, externalPort] {
        KCDaemonUPnPJobs::removalJob(*client, gateway, externalPort);
    });
}

} // namespace

uint32_t KCDaemonRouterPortMapper::currentGateway() const
{
    return _gateway ? _gateway() : 0;
}

void KCDaemonRouterPortMapper::queueRemovalOfOpenUPnPMapping()
{
    if (_upnpMappingOpen && _upnpMappedExternalPort != 0)
        queueRemoval(*_upnpQueue, _upnpClient, currentGateway(), _upnpMappedExternalPort);
}

void KCDaemonRouterPortMapper::tryMappingPortUsingUPNP(uint16_t port)
{
    _working = true;
    _internalPort = port;
    _portMappingBackendName = miniupnpcBackendName;
    const uint16_t externalPort = isPreferredPort(_externalPort) ? _externalPort : preferredExternalPort();
    const uint64_t generation = _mappingGeneration;
    const uint32_t gateway = currentGateway();
    const std::weak_ptr<Liveness> alive = _liveness;
    KCDaemonRouterPortMapper *const mapper = this;
    // The job holds the queue so that a result arriving after the mapper is gone can still queue
    // the removal of the mapping it made.
    _upnpQueue->async(generation,
        [mapper, alive, client = _upnpClient, queue = _upnpQueue, gateway, port, externalPort, generation] {
            const KCDaemonUPnPJobResult result = KCDaemonUPnPJobs::mappingJob(*client, gateway, port, externalPort);
            KCDaemonUPnPQueue::toMainThread([mapper, alive, client, queue, gateway, generation, result] {
                if (!alive.expired())
                    mapper->applyMappingResult(generation, gateway, result);
                else if (result.code == KCDNSServiceError::NoError && result.externalPort != 0)
                    queueRemoval(*queue, client, gateway, result.externalPort);
            });
        });
}

void KCDaemonRouterPortMapper::applyMappingResult(uint64_t generation, uint32_t gateway,
    const KCDaemonUPnPJobResult &result)
{
    forgetConflictedPorts(result.conflictedPorts);
    const bool mapped = result.code == KCDNSServiceError::NoError && result.externalPort != 0;
    if (_closed || generation != _mappingGeneration) {
        // Nobody will hear of this mapping, so nobody would ever remove it: do it now, on the
        // router it was made on.
        if (mapped)
            queueRemoval(*_upnpQueue, _upnpClient, gateway, result.externalPort);
        return;
    }
    _upnpIGDDiscoveryDiagnostics = result.diagnostics;
    if (mapped) {
        _upnpMappingOpen = true;
        _upnpMappedExternalPort = result.externalPort;
        startUPNPVerificationTimer();
    }
    _gotResponse(responseWithStatus(result.code, result.externalPort, result.externalAddress, 0));
}

void KCDaemonRouterPortMapper::forgetConflictedPorts(const QList<uint16_t> &ports)
{
    const qint64 stored = _store.integerForKey(lastMappedPortKey);
    if (stored != 0 && ports.contains(stored))
        _store.removeObject(lastMappedPortKey);
}

void KCDaemonRouterPortMapper::startUPNPVerificationTimer()
{
    stopUPNPVerificationTimer();
    const uint64_t generation = _mappingGeneration;
    const uint16_t externalPort = _upnpMappedExternalPort;
    _upnpVerifyTimer = _timers.createTimer(KCTimerKind::Repeating,
        [this, generation, externalPort] { queueVerification(generation, externalPort); });
    _upnpVerifyTimer->start(upnpVerificationInterval);
}

void KCDaemonRouterPortMapper::stopUPNPVerificationTimer()
{
    _upnpVerifyTimer.reset();
}

void KCDaemonRouterPortMapper::queueVerification(uint64_t generation, uint16_t externalPort)
{
    const uint32_t gateway = currentGateway();
    const std::weak_ptr<Liveness> alive = _liveness;
    KCDaemonRouterPortMapper *const mapper = this;
    _upnpQueue->async(generation, [mapper, alive, client = _upnpClient, gateway, externalPort, generation] {
        const KCDaemonUPnPJobResult result = KCDaemonUPnPJobs::verificationJob(*client, gateway, externalPort);
        KCDaemonUPnPQueue::toMainThread([mapper, alive, generation, result] {
            if (!alive.expired())
                mapper->applyVerificationResult(generation, result);
        });
    });
}

void KCDaemonRouterPortMapper::applyVerificationResult(uint64_t generation, const KCDaemonUPnPJobResult &result)
{
    forgetConflictedPorts(result.conflictedPorts);
    if (_closed || generation != _mappingGeneration || !_upnpMappingOpen)
        return;
    switch (result.code) {
    case KCDNSServiceError::NoError:
        if (result.externalAddress != 0 && result.externalAddress != _externalAddress)
            _gotResponse(responseWithStatus(KCDNSServiceError::NoError, _upnpMappedExternalPort, result.externalAddress, 0));
        return;
    case KCDNSServiceError::DoubleNAT:
        // The mapping is still in place; the next check may find a public address again.
        _gotResponse(responseWithStatus(KCDNSServiceError::DoubleNAT, 0, result.externalAddress, 0));
        return;
    default:
        qCWarning(lcKC).noquote()
            << QStringLiteral("miniupnpc mapping verification failed with status %1. Restarting port mapping.")
                   .arg(result.code);
        tryMappingPort(_internalPort);
        return;
    }
}

void KCDaemonRouterPortMapper::collectUPNPIGDDiscoveryDiagnosticsWithCompletion(
    std::function<void(const QVariantMap &)> completion)
{
    if (_upnpIGDDiscoveryDiagnostics && !_upnpIGDDiscoveryDiagnostics->isEmpty()) {
        if (completion)
            completion(*_upnpIGDDiscoveryDiagnostics);
        return;
    }
    const uint32_t gateway = currentGateway();
    const std::weak_ptr<Liveness> alive = _liveness;
    KCDaemonRouterPortMapper *const mapper = this;
    // Not tied to the attempt: the caller hears back even when the mapper has moved on or is gone.
    // The completion moves on to the main thread, so whatever it holds is let go of there.
    _upnpQueue->async([mapper, alive, client = _upnpClient, gateway, completion = std::move(completion)]() mutable {
        const std::optional<QVariantMap> diagnostics = KCDaemonUPnPJobs::diagnosticsJob(*client, gateway);
        KCDaemonUPnPQueue::toMainThread([mapper, alive, diagnostics, completion = std::move(completion)] {
            if (!alive.expired() && diagnostics && !diagnostics->isEmpty())
                mapper->_upnpIGDDiscoveryDiagnostics = diagnostics;
            if (completion)
                completion(diagnostics.value_or(QVariantMap()));
        });
    });
}
