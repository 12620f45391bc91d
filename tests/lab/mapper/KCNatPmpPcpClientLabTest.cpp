#include "KCFakeTimerSource.h"
#include "KCNatPmpPcpClient.h"
#include "KCRouterLab.h"

#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

// The NAT-PMP/PCP client on its own against miniupnpd, with its timers on a fake clock so the
// renewal can be brought forward; the router and the sockets run in real time.

namespace {

// How many mapping requests for the port the router has logged so far.
int requestsLogged(const KCRouterLab &lab, uint16_t port)
{
    const QString needle = QStringLiteral("->%1:5900").arg(lab.clientAddress().toString());
    int count = 0;
    for (const QString &line : lab.routerLog().split(u'\n'))
        count += line.contains(needle) && line.contains(QString::number(port)) ? 1 : 0;
    return count;
}

} // namespace

TEST(NatPmpPcpClientLab, MapsRenewsAndReleases)
{
    KC_REQUIRE_LAB(lab);
    KCFakeTimerSource timers;
    KCNatPmpPcpClient client(
        [&] { return std::optional<KCNATGateway>(KCNATGateway{lab->routerAddress(), lab->clientInterface(), 0}); },
        timers);
    KCNATPortMappingParameters parameters;
    parameters.protocols = KCNATProtocol::TCP | KCNATProtocol::UDP;
    parameters.internalPort = 5900;
    parameters.externalPort = 23456;
    std::vector<KCNATPortMappingReply> replies;
    KCNATPortMappingService::Creation creation =
        client.createPortMapping(parameters, [&](const KCNATPortMappingReply &reply) { replies.push_back(reply); });
    ASSERT_EQ(creation.errorCode, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !replies.empty(); }, 20000));

    const KCNATPortMappingReply mapped = replies[0];
    EXPECT_EQ(mapped.errorCode, 0);
    bool isIPv4 = false;
    EXPECT_EQ(mapped.externalAddress, qToBigEndian(lab->externalAddress().toIPv4Address(&isIPv4)));
    EXPECT_EQ(mapped.externalPort, 23456);
    EXPECT_EQ(mapped.internalPort, 5900);
    EXPECT_EQ(mapped.protocol, KCNATProtocol::TCP | KCNATProtocol::UDP);
    EXPECT_GT(mapped.ttl, 0u);
    const QString client5900 = QStringLiteral("%1:5900").arg(lab->clientAddress().toString());
    const QStringList table = lab->mappings().value_or(QStringList());
    ASSERT_EQ(table.size(), 2) << table.join(u'\n').toStdString();
    EXPECT_TRUE(table[0].startsWith(QStringLiteral("TCP 23456 %1 ").arg(client5900))) << table[0].toStdString();
    EXPECT_TRUE(table[1].startsWith(QStringLiteral("UDP 23456 %1 ").arg(client5900))) << table[1].toStdString();

    // Renewed within five-eighths of the lease: both mappings are asked for again.
    const int before = requestsLogged(*lab, 23456);
    EXPECT_GE(before, 2);
    timers.advance(std::chrono::seconds(mapped.ttl * 5 / 8 + 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return requestsLogged(*lab, 23456) >= before + 2; }, 20000))
        << lab->routerLog().toStdString();
    EXPECT_EQ(lab->mappings().value_or(QStringList()).size(), 2);

    creation.request.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return lab->mappings() == QStringList(); }, 20000))
        << lab->mappings().value_or(QStringList()).join(u'\n').toStdString();
}
