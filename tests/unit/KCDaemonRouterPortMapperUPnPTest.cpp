#include "KCDNSServiceError.h"
#include "KCLogCapture.h"
#include "KCRouterPortMapperRig.h"

#include <gmock/gmock.h>

#include <functional>

namespace {

using Rig = KCRouterPortMapperRig;
using Fake = KCFakeUPnPIGDClient;
using namespace std::chrono_literals;
const QString kLastMappedPort = QStringLiteral("lastMappedPort");
const uint32_t kPublic = ipv4("203.0.113.7");
const QString kVerifyTCP = QStringLiteral("GetSpecificPortMappingEntry TCP 23456");

// A mapper whose attempts take the UPnP path, with "lastMappedPort" 23456.
struct UPnPRig : Rig {
    UPnPRig()
    {
        store.setInteger(storedPort, QStringLiteral("lastMappedPort"));
        systemFails();
        create();
    }

    // Maps 5900 over UPnP and waits for the result.
    bool mapOverUPnP()
    {
        const std::size_t before = delegate.results.size();
        mapper->tryMappingPort(5900);
        return waitForResults(before + 1) && delegate.results.back().code == 0;
    }

    // Holds discovery and starts an attempt whose UPnP job then waits at the door.
    bool attemptInFlight()
    {
        upnp->hold();
        mapper->tryMappingPort(5900);
        return QTest::qWaitFor([&] { return upnp->isHolding(); }, 10000);
    }

    bool removedFromRouter(uint16_t port)
    {
        return waitForGateway([port](Fake &fake) {
            return !fake.mappings.contains({port, "TCP"}) && !fake.mappings.contains({port, "UDP"})
                && fake.calls.contains(QStringLiteral("DeletePortMapping UDP %1").arg(port));
        });
    }
};

TEST(RouterPortMapperUPnP, MappingIsReportedKeptOpenAndVerified)
{
    UPnPRig rig;
    ASSERT_TRUE(rig.mapOverUPnP());
    EXPECT_EQ(rig.delegate.results[0], (KCMapperResult{0, Rig::storedPort, kPublic, 0, 0}));
    EXPECT_FALSE(rig.delegate.offMainThread);
    EXPECT_TRUE(rig.mappedOnRouter(Rig::storedPort));
    EXPECT_EQ(rig.mapper->portMappingBackendName(), QStringLiteral("miniupnpc"));
    EXPECT_EQ(rig.calls().first(), QStringLiteral("discover 192.168.1.1")) << "the gateway of the moment";
    EXPECT_EQ(rig.store.integerForKey(kLastMappedPort), Rig::storedPort);

    // First check ten minutes after the mapping, then every ten minutes.
    rig.timers.advance(599s);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.countCalls(kVerifyTCP), 0);
    rig.gateway = ipv4("192.168.1.254");
    rig.timers.advance(1s);
    ASSERT_TRUE(rig.waitForGateway([](Fake &fake) { return fake.calls.contains(kVerifyTCP); }));
    EXPECT_TRUE(rig.calls().contains(QStringLiteral("discover 192.168.1.254")));
    rig.timers.advance(600s);
    ASSERT_TRUE(rig.waitForGateway([](Fake &fake) { return fake.calls.count(kVerifyTCP) == 2; }));
}

TEST(RouterPortMapperUPnP, VerificationOutcomes)
{
    struct Case {
        const char *name;
        std::function<void(Fake &)> change;
        std::vector<KCMapperResult> reported; // after the mapping's own result
        int32_t restartCode;                  // 0: no restart
    };
    const std::vector<Case> cases = {
        {"same address: nothing to say", [](Fake &) {}, {}, 0},
        {"new address: reported with the same port",
            [](Fake &fake) { fake.script.externalIPAddress = "203.0.113.99"; },
            {{0, Rig::storedPort, ipv4("203.0.113.99"), 0, 0}}, 0},
        {"double NAT: reported, the mapping stays",
            [](Fake &fake) { fake.script.externalIPAddress = "100.64.1.2"; },
            {{-65558, 0, ipv4("100.64.1.2"), 0, 0}}, 0},
        {"UDP mapping gone: the attempt starts again",
            [](Fake &fake) { fake.mappings.remove({Rig::storedPort, "UDP"}); },
            {{0, Rig::storedPort, kPublic, 0, 0}}, -65564},
        {"address unreadable: the attempt starts again",
            [](Fake &fake) { fake.script.externalIPResult = 501; }, {{-65537, 0, 0, 0, 0}}, -65537},
        {"router gone: the attempt starts again",
            [](Fake &fake) { fake.script.deviceAnswers = false; }, {{-65566, 0, 0, 0, 0}}, -65566},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KCLogCapture log;
        UPnPRig rig;
        ASSERT_TRUE(rig.mapOverUPnP());
        rig.upnp->with(c.change);
        rig.timers.advance(600s);
        ASSERT_TRUE(rig.waitForResults(1 + c.reported.size()));
        ASSERT_TRUE(rig.settle());
        EXPECT_THAT(std::vector(rig.delegate.results.begin() + 1, rig.delegate.results.end()),
            ::testing::ElementsAreArray(c.reported));

        const QString restart =
            QStringLiteral("miniupnpc mapping verification failed with status %1. Restarting port mapping.")
                .arg(c.restartCode);
        EXPECT_EQ(log.contains(restart), c.restartCode != 0);
        EXPECT_EQ(rig.nat.createCalls(), c.restartCode != 0 ? 2 : 1);
        const bool routerAnswers = rig.upnp->with([](Fake &fake) { return fake.script.deviceAnswers; });
        if (c.restartCode != 0 && routerAnswers) {
            // The old mapping is removed before the new attempt maps the same port again.
            const QStringList calls = rig.calls();
            const qsizetype removed = calls.indexOf(QStringLiteral("DeletePortMapping UDP 23456"));
            ASSERT_GE(removed, 0);
            EXPECT_LT(calls.indexOf(kVerifyTCP), removed);
            EXPECT_LT(removed, calls.lastIndexOf(QStringLiteral("AddPortMapping TCP 23456")));
        }
        if (c.restartCode != 0)
            continue;
        // Without a restart the mapping, and its timer, stay.
        EXPECT_TRUE(rig.mappedOnRouter(Rig::storedPort));
        rig.timers.advance(600s);
        ASSERT_TRUE(rig.waitForGateway([](Fake &fake) { return fake.calls.count(kVerifyTCP) == 2; }));
    }
}

TEST(RouterPortMapperUPnP, NewAttemptRemovesTheOpenMappingFirst)
{
    UPnPRig rig;
    ASSERT_TRUE(rig.mapOverUPnP());
    ASSERT_TRUE(rig.mapOverUPnP());
    const QStringList calls = rig.calls();
    const QString add = QStringLiteral("AddPortMapping TCP 23456");
    ASSERT_EQ(calls.count(add), 2);
    const qsizetype secondAdd = calls.lastIndexOf(add);
    EXPECT_LT(calls.indexOf(QStringLiteral("DeletePortMapping TCP 23456")), secondAdd);
    EXPECT_LT(calls.indexOf(QStringLiteral("DeletePortMapping UDP 23456")), secondAdd);
    EXPECT_TRUE(rig.mappedOnRouter(Rig::storedPort)) << "the new mapping is left in place";
    EXPECT_EQ(rig.timers.activeTimerCount(), 1) << "only the new mapping is verified";
}

TEST(RouterPortMapperUPnP, CloseRemovesTheMappingAndStopsVerifying)
{
    UPnPRig rig;
    ASSERT_TRUE(rig.mapOverUPnP());
    rig.mapper->close();
    EXPECT_FALSE(rig.mapper->isWorking());
    EXPECT_EQ(rig.timers.activeTimerCount(), 0);
    ASSERT_TRUE(rig.removedFromRouter(Rig::storedPort));
    rig.timers.advance(1200s);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.countCalls(kVerifyTCP), 0);
    EXPECT_EQ(rig.delegate.results.size(), 1u);
}

TEST(RouterPortMapperUPnP, ConflictsAreForgottenAndTheMappedPortStored)
{
    UPnPRig rig;
    rig.upnp->with([](Fake &fake) { fake.script.addReplies["TCP"] = {718, 718, 718}; });
    ASSERT_TRUE(rig.mapOverUPnP());
    const QList<uint16_t> tried = rig.upnp->with([](Fake &fake) { return fake.addedPorts("TCP"); });
    ASSERT_EQ(tried.size(), 4);
    EXPECT_EQ(tried[0], Rig::storedPort);
    EXPECT_EQ(rig.delegate.results[0].externalPort, tried[3]);
    EXPECT_EQ(rig.store.integerForKey(kLastMappedPort), tried[3]);
}

TEST(RouterPortMapperUPnP, ResultsOfAbandonedAttemptsAreDroppedAndTheirMappingsRemoved)
{
    struct Case {
        const char *name;
        std::function<void(UPnPRig &)> abandon;
        bool conflictFirst;
        std::size_t results; // all from the newer attempt
    };
    const std::vector<Case> cases = {
        {"closed", [](UPnPRig &rig) { rig.mapper->close(); }, false, 0},
        {"closed after a conflict", [](UPnPRig &rig) { rig.mapper->close(); }, true, 0},
        {"a newer attempt",
            [](UPnPRig &rig) {
                rig.nat.setScriptedReplies({natReply(0, kPublic, 30000)});
                rig.mapper->tryMappingPort(5900);
            },
            false, 1},
        {"the mapper destroyed", [](UPnPRig &rig) { rig.mapper.reset(); }, false, 0},
        {"the mapper destroyed after a conflict", [](UPnPRig &rig) { rig.mapper.reset(); }, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UPnPRig rig;
        if (c.conflictFirst)
            rig.upnp->with([](Fake &fake) { fake.script.addReplies["TCP"] = {718}; });
        ASSERT_TRUE(rig.attemptInFlight());
        c.abandon(rig);
        // Nothing waits for the job: it is still held when the abandoning call returns.
        EXPECT_TRUE(rig.upnp->isHolding());
        rig.upnp->release();

        ASSERT_TRUE(rig.waitForGateway([](Fake &fake) {
            const QList<uint16_t> added = fake.addedPorts("UDP");
            return !added.isEmpty() && fake.calls.contains(QStringLiteral("DeletePortMapping UDP %1").arg(added.last()));
        }));
        const uint16_t port = rig.upnp->with([](Fake &fake) { return fake.addedPorts("UDP").last(); });
        EXPECT_TRUE(rig.removedFromRouter(port));
        if (rig.mapper) {
            ASSERT_TRUE(rig.settle());
        }
        EXPECT_EQ(rig.delegate.results.size(), c.results);
        if (c.results) {
            EXPECT_EQ(rig.delegate.results[0].externalPort, 30000);
        }
        // A conflict the dropped job met is still learnt while the mapper is there to learn it.
        if (c.conflictFirst && rig.mapper) {
            EXPECT_FALSE(rig.stored().isValid());
        }
    }
}

TEST(RouterPortMapperUPnP, AttemptsAbandonedBeforeTheirJobStartsNeverReachTheRouter)
{
    UPnPRig rig;
    rig.upnp->hold();
    auto diagnosed = std::make_shared<bool>(false);
    rig.mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion([diagnosed](const QVariantMap &) { *diagnosed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.upnp->isHolding(); }, 10000));
    rig.mapper->tryMappingPort(5900);
    // The system path's failure queues the mapping job behind the held diagnostics job.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.mapper->portMappingBackendName() == QStringLiteral("miniupnpc"); }, 10000));
    rig.mapper->close();
    rig.upnp->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return *diagnosed; }, 10000));
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.upnp->with([](Fake &fake) { return fake.addedPorts("TCP").size(); }), 0);
    EXPECT_TRUE(rig.delegate.results.empty());
}

TEST(RouterPortMapperUPnP, DestructionNeverWaitsAndStillCleansUp)
{
    struct Case {
        const char *name;
        bool mappedFirst;
        bool verificationInFlight;
        bool diagnosticsPending;
    };
    const std::vector<Case> cases = {
        {"with an open mapping", true, false, false},
        {"with a verification in flight", true, true, false},
        {"with a diagnostics request in flight", false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UPnPRig rig;
        if (c.mappedFirst) {
            ASSERT_TRUE(rig.mapOverUPnP());
        }
        rig.upnp->hold();
        if (c.verificationInFlight)
            rig.timers.advance(600s);
        auto diagnostics = std::make_shared<std::optional<QVariantMap>>();
        if (c.diagnosticsPending)
            rig.mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion(
                [diagnostics](const QVariantMap &d) { *diagnostics = d; });
        if (c.verificationInFlight || c.diagnosticsPending) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return rig.upnp->isHolding(); }, 10000));
        }

        rig.mapper.reset();
        rig.upnp->release();
        if (c.mappedFirst) {
            EXPECT_TRUE(rig.removedFromRouter(Rig::storedPort));
        }
        if (c.diagnosticsPending) {
            // The caller hears back even though the mapper is gone: there was nothing to find.
            ASSERT_TRUE(QTest::qWaitFor([&] { return diagnostics->has_value(); }, 10000));
            EXPECT_TRUE((*diagnostics)->isEmpty());
        }
        EXPECT_EQ(rig.delegate.results.size(), c.mappedFirst ? 1u : 0u);
    }
}

TEST(RouterPortMapperUPnP, DiagnosticsComeFromTheMappingOrADiscovery)
{
    const QVariantMap found{{QStringLiteral("descriptionURL"), QStringLiteral("http://private-ipv4:5000/rootDesc.xml")},
        {QStringLiteral("descriptionHostType"), QStringLiteral("private-ipv4")},
        {QStringLiteral("serviceType"), QStringLiteral("urn:schemas-upnp-org:service:WANIPConnection:1")}};
    UPnPRig rig;
    const auto collect = [&rig] {
        auto received = std::make_shared<std::optional<QVariantMap>>();
        rig.mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion([received](const QVariantMap &d) { *received = d; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return received->has_value(); }, 10000));
        return received->value_or(QVariantMap{{QStringLiteral("never called"), true}});
    };

    rig.upnp->with([](Fake &fake) { fake.script.deviceAnswers = false; });
    EXPECT_EQ(collect(), QVariantMap()) << "nothing found is an empty map";

    rig.upnp->with([](Fake &fake) {
        fake.script.deviceAnswers = true;
        fake.script.rootDescriptionURL = "http://192.168.1.1:5000/rootDesc.xml";
    });
    EXPECT_EQ(collect(), found);
    EXPECT_EQ(rig.mapper->upnpIGDDiscoveryDiagnostics(), found) << "kept once found";

    // A new attempt forgets them until its own discovery; close keeps what the attempt found.
    rig.mapper->tryMappingPort(5900);
    EXPECT_EQ(rig.mapper->upnpIGDDiscoveryDiagnostics(), QVariantMap());
    ASSERT_TRUE(rig.waitForResults(1));
    EXPECT_EQ(rig.mapper->upnpIGDDiscoveryDiagnostics(), found);
    rig.mapper->close();
    EXPECT_EQ(rig.mapper->upnpIGDDiscoveryDiagnostics(), found);
    const int discoveries = rig.countCalls(QStringLiteral("discover 192.168.1.1"));
    bool immediate = false;
    rig.mapper->collectUPNPIGDDiscoveryDiagnosticsWithCompletion([&](const QVariantMap &d) { immediate = d == found; });
    EXPECT_TRUE(immediate) << "answered at once from what the mapper holds";
    EXPECT_EQ(rig.countCalls(QStringLiteral("discover 192.168.1.1")), discoveries);
}

} // namespace
