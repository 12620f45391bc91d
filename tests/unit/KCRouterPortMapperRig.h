#pragma once

#include "KCDaemonRouterPortMapper.h"
#include "KCFakeNATPortMappingService.h"
#include "KCFakeTimerSource.h"
#include "KCIPv4Address.h"
#include "KCMemoryDefaultsStore.h"
#include "KCRecordingMapperDelegate.h"
#include "KCSharedFakeUPnPIGDClient.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

// A router port mapper on fakes: the router's port-mapping service, a UPnP gateway shared with
// the mapper's worker thread, a store, a clock and a delegate that records what it hears.

inline KCNATPortMappingReply natReply(int32_t code, uint32_t address, uint16_t externalPort,
    uint16_t internalPort = 5900, uint32_t ttl = 7200)
{
    KCNATPortMappingReply reply;
    reply.interfaceIndex = 2;
    reply.errorCode = code;
    reply.externalAddress = address;
    reply.protocol = internalPort ? KCNATProtocol::TCP | KCNATProtocol::UDP : 0;
    reply.internalPort = internalPort;
    reply.externalPort = externalPort;
    reply.ttl = ttl;
    return reply;
}

struct KCRouterPortMapperRig {
    static constexpr uint16_t storedPort = 23456;

    KCRouterPortMapperRig()
    {
        // Without a description URL the discovery has no diagnostics, so a diagnostics request
        // always queues a job: settle() relies on that.
        upnp->with([](KCFakeUPnPIGDClient &fake) { fake.script.rootDescriptionURL.clear(); });
    }
    ~KCRouterPortMapperRig()
    {
        upnp->release();
        mapper.reset();
    }

    KCDaemonRouterPortMapper &create()
    {
        mapper = std::make_unique<KCDaemonRouterPortMapper>(&delegate, nat, upnp, store, timers,
            [this] { return gateway; });
        return *mapper;
    }

    // Every call of the system path fails asynchronously from now on, so attempts take UPnP.
    void systemFails() { nat.setScriptedReplies({natReply(-65568, 0, 0)}); }

    bool waitForResults(std::size_t count)
    {
        return QTest::qWaitFor([&] { return delegate.results.size() >= count; }, 10000);
    }

    // Waits until the worker thread has run everything queued so far and the main thread has
    // taken in what it handed back: a diagnostics request goes through the same queue and comes
    // back after everything queued before it.
    bool settle()
    {
        auto done = std::make_shared<bool>(false);
        mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion([done](const QVariantMap &) { *done = true; });
        return QTest::qWaitFor([&] { return *done; }, 10000);
    }

    template <typename Predicate>
    bool waitForGateway(Predicate predicate)
    {
        return QTest::qWaitFor([&] { return upnp->with(predicate); }, 10000);
    }

    bool mappedOnRouter(uint16_t port)
    {
        return upnp->with([port](KCFakeUPnPIGDClient &fake) {
            return fake.mappings.contains({port, "TCP"}) && fake.mappings.contains({port, "UDP"});
        });
    }

    QStringList calls()
    {
        return upnp->with([](KCFakeUPnPIGDClient &fake) { return fake.calls; });
    }

    int countCalls(const QString &call)
    {
        return int(calls().count(call));
    }

    QVariant stored() const { return store.objectForKey(QStringLiteral("lastMappedPort")); }

    KCFakeNATPortMappingService nat;
    std::shared_ptr<KCSharedFakeUPnPIGDClient> upnp = std::make_shared<KCSharedFakeUPnPIGDClient>();
    KCMemoryDefaultsStore store;
    KCFakeTimerSource timers;
    KCRecordingMapperDelegate delegate;
    uint32_t gateway = ipv4("192.168.1.1");
    std::unique_ptr<KCDaemonRouterPortMapper> mapper;
};
