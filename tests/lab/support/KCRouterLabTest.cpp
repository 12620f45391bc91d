#include "KCRouterLab.h"

#include <QNetworkInterface>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Asks the lab's router for a NAT-PMP mapping with Debian's client; true when it was granted.
bool natpmpMap(const KCRouterLab &lab, const QString &port)
{
    QProcess natpmpc;
    natpmpc.start(QStringLiteral("natpmpc"), {QStringLiteral("-g"), lab.routerAddress().toString(),
                                              QStringLiteral("-a"), port, port, QStringLiteral("tcp"),
                                              QStringLiteral("3600")});
    return natpmpc.waitForFinished(20000) && natpmpc.exitStatus() == QProcess::NormalExit
        && natpmpc.exitCode() == 0;
}

} // namespace

TEST(KCRouterLab, RunsInTheLabsClient)
{
    KC_REQUIRE_LAB(lab);
    const QNetworkInterface client = QNetworkInterface::interfaceFromName(lab->clientInterface());
    ASSERT_TRUE(client.isValid());
    bool hasClientAddress = false;
    for (const QNetworkAddressEntry &entry : client.addressEntries())
        hasClientAddress |= entry.ip() == lab->clientAddress();
    EXPECT_TRUE(hasClientAddress);
    EXPECT_EQ(lab->routerAddress(), QHostAddress(QStringLiteral("192.168.77.1")));
    EXPECT_FALSE(lab->externalAddress().isNull());
}

TEST(KCRouterLab, ReadsAndResetsTheRoutersMappings)
{
    KC_REQUIRE_LAB(lab);
    const QString expected = QStringLiteral("TCP 5900 %1:5900 NAT-PMP 5900 tcp").arg(lab->clientAddress().toString());
    ASSERT_TRUE(natpmpMap(*lab, QStringLiteral("5900")));
    EXPECT_EQ(lab->mappings(), QStringList{expected});

    ASSERT_TRUE(lab->restartRouter());
    EXPECT_EQ(lab->mappings(), QStringList{});

    ASSERT_TRUE(lab->stopRouter());
    EXPECT_FALSE(natpmpMap(*lab, QStringLiteral("5900")));
    ASSERT_TRUE(lab->startRouter());
    EXPECT_TRUE(natpmpMap(*lab, QStringLiteral("5900")));
    EXPECT_EQ(lab->mappings(), QStringList{expected});
    EXPECT_TRUE(lab->routerLog().contains(QLatin1String("miniupnpd")));
}
