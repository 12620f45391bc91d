#include "KCFakePortMapper.h"

#include "KCIPv4Address.h"

KCFakePortMapper::KCFakePortMapper(KCDaemonPortMapperDelegate *delegate, KCFakePortMapperFactory *factory, const QString &backendName)
    : backend(backendName)
    , _delegate(delegate)
    , _factory(factory)
{
}

KCFakePortMapper::~KCFakePortMapper()
{
    _factory->live.removeAll(this);
    ++_factory->destroyedCount;
}

void KCFakePortMapper::tryMappingPort(uint16_t port)
{
    attempts.append(port);
    _internalPort = port;
    _working = true;
}

void KCFakePortMapper::close()
{
    ++closeCount;
    _working = false;
}

void KCFakePortMapper::collectUPNPIGDDiscoveryDiagnosticsWithCompletion(std::function<void(const QVariantMap &)> completion)
{
    ++collectionsAsked;
    _collections.append(std::move(completion));
}

void KCFakePortMapper::report(int32_t result, uint16_t externalPort, const QString &address, uint32_t ttl, uint32_t interfaceIndex)
{
    _externalPort = externalPort;
    _externalAddress = address.isEmpty() ? 0 : KCIPv4Address::parse(address.toLatin1()).value_or(0);
    _ttl = ttl;
    _working = false;
    _delegate->portMapping(this, result, externalPort, _externalAddress, interfaceIndex, ttl);
}

void KCFakePortMapper::finishCollections(const QVariantMap &found)
{
    const auto pending = std::exchange(_collections, {});
    for (const auto &completion : pending)
        completion(found);
}

std::unique_ptr<KCDaemonPortMapper> KCFakePortMapperFactory::createPortMapper(KCDaemonPortMapperDelegate *delegate)
{
    auto mapper = std::make_unique<KCFakePortMapper>(delegate, this, backend);
    live.append(mapper.get());
    ++createdCount;
    return mapper;
}
