#pragma once

#include "KCFakeTimerSource.h"
#include "KCNatPmpPcpClient.h"
#include "KCScriptedNATRouter.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QTest>
#include <QtEndian>
#include <gmock/gmock.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Names each case of a parameterised test by its `name`.
struct NamedCase {
    template <typename T>
    std::string operator()(const ::testing::TestParamInfo<T> &info) const
    {
        return info.param.name;
    }
};

// Prints a case by its name in test listings.
template <typename T>
    requires requires(const T &c) { c.name; }
void PrintTo(const T &c, std::ostream *os)
{
    *os << c.name;
}

// A client whose timers run on a fake clock, pointed at a scripted router on 127.0.0.1 that
// stands behind the loopback interface.
class NatPmpPcpClientFixture : public ::testing::Test {
protected:
    static uint32_t loopbackIndex()
    {
        return uint32_t(QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo")));
    }

    NatPmpPcpClientFixture()
    {
        KCNatPmpPcpEndpoints endpoints;
        endpoints.serverPort = router.port();
        endpoints.announcementPort = 0;
        client = std::make_unique<KCNatPmpPcpClient>([this] { return gateway; }, clock, endpoints);
    }

    KCNATPortMappingService::Creation create(uint32_t protocols, uint16_t internalPort, uint16_t externalPort = 0,
                                             uint32_t ttl = 0)
    {
        KCNATPortMappingParameters parameters;
        parameters.protocols = protocols;
        parameters.internalPort = internalPort;
        parameters.externalPort = externalPort;
        parameters.ttl = ttl;
        return client->createPortMapping(parameters, [this](const KCNATPortMappingReply &reply) {
            replies.push_back(reply);
            replyTimes.push_back(clock.now());
        });
    }

    void open(uint32_t protocols, uint16_t internalPort, uint16_t externalPort = 0, uint32_t ttl = 0)
    {
        KCNATPortMappingService::Creation creation = create(protocols, internalPort, externalPort, ttl);
        ASSERT_EQ(creation.errorCode, 0);
        request = std::move(creation.request);
    }

    void openBoth(uint16_t externalPort = 0, uint32_t ttl = 0)
    {
        open(KCNATProtocol::TCP | KCNATProtocol::UDP, 5900, externalPort, ttl);
    }

    bool waitForReplies(std::size_t count)
    {
        return QTest::qWaitFor([&] { return replies.size() >= count; }, 5000);
    }

    // Lets sockets deliver what is already on its way over loopback.
    static void pump()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    // Fires the client's timers one by one until it sends something, and returns the moment (on
    // the fake clock) it did; nothing if it sends nothing before `limit`.
    std::optional<std::chrono::milliseconds> nextSend(std::chrono::milliseconds limit)
    {
        const std::size_t before = router.received().size();
        while (const auto next = clock.nextDeadlineIn()) {
            if (clock.now() + *next > limit)
                return std::nullopt;
            clock.fireNext();
            pump();
            if (router.received().size() > before)
                return router.received()[before].at;
        }
        return std::nullopt;
    }

    const QByteArray &lastRequest() const { return router.received().back().data; }

    static uint32_t netOrder(uint32_t hostOrder) { return qToBigEndian(hostOrder); }

    KCFakeTimerSource clock;
    KCScriptedNATRouter router{clock};
    std::optional<KCNATGateway> gateway =
        KCNATGateway{QHostAddress(QHostAddress::LocalHost), QStringLiteral("lo"), loopbackIndex()};
    std::unique_ptr<KCNatPmpPcpClient> client;
    std::unique_ptr<KCNATPortMappingRequest> request;
    std::vector<KCNATPortMappingReply> replies;
    std::vector<std::chrono::milliseconds> replyTimes;
};
