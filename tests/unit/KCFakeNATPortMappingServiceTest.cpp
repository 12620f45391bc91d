#include "KCFakeNATPortMappingService.h"

#include "KCDNSServiceError.h"

#include <QTest>
#include <gmock/gmock.h>

TEST(FakeNATPortMappingService, DeliversScriptedRepliesLaterAndRecordsReleases)
{
    KCFakeNATPortMappingService service;
    KCNATPortMappingReply mapped;
    mapped.externalPort = 23456;
    KCNATPortMappingReply changed = mapped;
    changed.externalPort = 34567;
    service.setScriptedReplies({mapped, changed});

    std::vector<uint16_t> ports;
    KCNATPortMappingParameters parameters;
    parameters.protocols = KCNATProtocol::TCP | KCNATProtocol::UDP;
    parameters.internalPort = 5900;
    auto creation = service.createPortMapping(parameters, [&](const KCNATPortMappingReply &r) { ports.push_back(r.externalPort); });
    ASSERT_EQ(creation.errorCode, 0);
    EXPECT_TRUE(ports.empty()) << "replies come from the event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return ports.size() == 2; }, 5000));
    EXPECT_THAT(ports, ::testing::ElementsAre(23456, 34567));

    EXPECT_EQ(service.openCount(), 1u);
    creation.request.reset();
    EXPECT_EQ(service.openCount(), 0u);
    ASSERT_EQ(service.opened().size(), 1u);
    EXPECT_TRUE(service.opened()[0].released);
    EXPECT_EQ(service.opened()[0].parameters.internalPort, 5900);
    EXPECT_FALSE(service.deliver(0, mapped)) << "nothing reaches a released request";
}

TEST(FakeNATPortMappingService, FailsTheNextCreationOnlyAndDropsScriptForReleasedRequests)
{
    KCFakeNATPortMappingService service;
    service.setScriptedReplies({KCNATPortMappingReply{}});
    service.failNextCreate(KCDNSServiceError::ServiceNotRunning);
    int replies = 0;
    const auto handler = [&](const KCNATPortMappingReply &) { ++replies; };
    const auto failed = service.createPortMapping({}, handler);
    EXPECT_EQ(failed.errorCode, KCDNSServiceError::ServiceNotRunning);
    EXPECT_FALSE(failed.request);
    auto released = service.createPortMapping({}, handler);
    released.request.reset();
    auto open = service.createPortMapping({}, handler);
    ASSERT_TRUE(QTest::qWaitFor([&] { return replies == 1; }, 5000));
    QTest::qWait(0);
    EXPECT_EQ(replies, 1);
    EXPECT_EQ(service.createCalls(), 3);
    EXPECT_EQ(service.opened().size(), 2u);
}
