#pragma once

#include "KCDaemonRouterPortMapper.h"
#include "KCFakeTimerSource.h"
#include "KCLinuxDynamicStore.h"
#include "KCMemoryDefaultsStore.h"
#include "KCMiniUPnPIGDClient.h"
#include "KCNatPmpPcpClient.h"
#include "KCRecordingMapperDelegate.h"
#include "KCRouterLab.h"

#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// A port mapper in the router lab's client, as the daemon builds it: the NAT-PMP/PCP client and
// the miniupnpc client ask the default route's gateway as the real configuration store reads it
// from the kernel. Only the mapper's own timers run on a fake clock, so a test can bring the
// ten-minute verification forward while the router, the sockets and the NAT client's
// retransmissions and renewals run in real time.
class KCMapperLabRig {
public:
    KCMapperLabRig();
    ~KCMapperLabRig();

    KCDaemonRouterPortMapper &create();
    KCDaemonRouterPortMapper &mapper() { return *_mapper; }
    void destroy() { _mapper.reset(); }
    const KCDynamicStore &configuration() const { return *_configuration; }

    // Waits until the delegate has heard this many results; the deadline is generous, never a
    // measure of speed.
    bool waitForResults(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(30));
    const std::vector<KCMapperResult> &results() const { return delegate.results; }

    // The router's mappings of a public port, e.g. "TCP 23456 192.168.77.10:5900 Kovra Connect".
    QStringList routerMappings(uint16_t externalPort) const;
    // Both protocols forwarded from the public port to the client's port 5900.
    bool routerForwards(uint16_t externalPort) const;
    // Waits until the router's table satisfies the predicate.
    bool waitForRouter(const std::function<bool(const QStringList &)> &predicate,
        std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
    bool waitUntilRouterForwards(uint16_t externalPort, std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
    bool waitUntilRouterHasNoMappings() const;

    // The diagnostics the mapper hands out, waiting for a discovery when it has none.
    QVariantMap collectDiagnostics();

    KCRouterLab lab;
    KCFakeTimerSource mapperTimers;
    KCMemoryDefaultsStore store;
    KCRecordingMapperDelegate delegate;

private:
    std::unique_ptr<KCLinuxDynamicStore> _configuration;
    std::shared_ptr<KCNatPmpPcpClient> _nat;
    std::shared_ptr<KCMiniUPnPIGDClient> _upnp;
    std::unique_ptr<KCDaemonRouterPortMapper> _mapper;
};

// Skips the test unless it runs inside a router lab, then builds the rig.
#define KC_MAPPER_LAB_RIG(rig)                                                                                         \
    if (!KCRouterLab::current())                                                                                       \
        GTEST_SKIP() << "runs only inside the router lab: tests/lab/run-in-lab PROFILE -- TEST";                      \
    KCMapperLabRig rig
