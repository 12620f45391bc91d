#include "KCIPv4Address.h"
#include "KCLogCapture.h"
#include "KCMiniUPnPIGDClient.h"
#include "KCUPnPURL.h"

#include <gtest/gtest.h>
#include <miniupnpc/miniupnpc.h>

#include <cstdlib>
#include <cstring>

namespace {

uint32_t address(const char *text)
{
    return *KCIPv4Address::parse(text);
}

TEST(KCIPv4Address, ParsesOnlyDottedQuads)
{
    EXPECT_EQ(KCIPv4Address::parse("192.168.1.1"), address("192.168.1.1"));
    EXPECT_EQ(KCIPv4Address::parse(" 203.0.113.9\r\n"), address("203.0.113.9"));
    EXPECT_EQ(KCIPv4Address::toString(address("203.0.113.9")), QStringLiteral("203.0.113.9"));
    for (const char *text : {"", " ", "192.168.1", "1.2.3.4.5", "256.1.1.1", "0x7f.0.0.1", "127.1", "igd.lan",
             "1.2.3.4 x", "-1.2.3.4", "::1"}) {
        EXPECT_FALSE(KCIPv4Address::parse(text)) << text;
    }
    EXPECT_FALSE(KCIPv4Address::parse(QByteArrayView("1.2.3.4\0", 8)));
}

TEST(KCIPv4Address, PrivateRangesAndTheirEdges)
{
    const std::vector<std::pair<const char *, bool>> cases = {
        {"0.1.2.3", true}, {"10.0.0.1", true}, {"127.0.0.1", true}, {"224.0.0.1", true}, {"255.255.255.255", true},
        {"100.63.255.255", false}, {"100.64.0.0", true}, {"100.64.1.2", true}, {"100.127.255.255", true},
        {"100.128.0.0", false}, {"169.253.1.1", false}, {"169.254.1.1", true}, {"172.15.255.255", false},
        {"172.16.0.1", true}, {"172.31.255.255", true}, {"172.32.0.1", false}, {"192.167.1.1", false},
        {"192.168.0.1", true}, {"192.169.0.1", false}, {"198.17.255.255", false}, {"198.18.0.1", true},
        {"198.19.255.255", true}, {"198.20.0.1", false}, {"203.0.113.7", false}, {"223.255.255.255", false},
        {"8.8.8.8", false},
    };
    for (const auto &[text, isPrivate] : cases)
        EXPECT_EQ(KCIPv4Address::isPrivate(address(text)), isPrivate) << text;
}

TEST(KCUPnPURL, GatewayCheck)
{
    const uint32_t gateway = address("192.168.1.1");
    using V = KCUPnPURLVerdict;
    const std::vector<std::pair<const char *, V>> cases = {
        {"http://192.168.1.1:5000/rootDesc.xml", V::Accepted},
        {"http://192.168.1.1/rootDesc.xml", V::Accepted},
        {"http://192.168.1.1:65535/a?b=c", V::Accepted},
        {"http://192.168.1.2:5000/rootDesc.xml", V::NotTheGateway}, // another device on the LAN
        {"http://203.0.113.5/rootDesc.xml", V::NotTheGateway},
        {"http://127.0.0.1:5000/rootDesc.xml", V::ForbiddenAddress},
        {"http://127.255.0.1/x", V::ForbiddenAddress},
        {"http://0.0.0.0:5000/x", V::ForbiddenAddress},
        {"http://169.254.10.1/x", V::ForbiddenAddress},
        {"http://239.255.255.250:1900/x", V::ForbiddenAddress},
        {"http://igd.lan:5000/rootDesc.xml", V::NotAnIPv4HTTPURL},
        {"http://localhost/x", V::NotAnIPv4HTTPURL},
        {"http://[fe80::1]:5000/x", V::NotAnIPv4HTTPURL},
        {"https://192.168.1.1/x", V::NotAnIPv4HTTPURL},
        {"HTTP://192.168.1.1/x", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1@127.0.0.1/x", V::NotAnIPv4HTTPURL},
        {"http://127.0.0.1#@192.168.1.1/x", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1:5000", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1:/x", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1:0/x", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1:65536/x", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1:50a0/x", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1/x y", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1/x\r\nHost: evil", V::NotAnIPv4HTTPURL},
        {"http://192.168.1.1./x", V::NotAnIPv4HTTPURL},
        {"", V::NotAnIPv4HTTPURL},
    };
    for (const auto &[url, verdict] : cases)
        EXPECT_EQ(KCUPnPCheckURLAgainstGateway(url, gateway), verdict) << url;
    // With no default route nothing passes.
    EXPECT_EQ(KCUPnPCheckURLAgainstGateway("http://192.168.1.1/x", 0), V::NotTheGateway);

    const std::optional<KCUPnPURL> parsed = KCUPnPURL::parse("http://192.168.1.1:5000/rootDesc.xml");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->host, gateway);
    EXPECT_EQ(parsed->port, 5000);
    EXPECT_EQ(parsed->path, "/rootDesc.xml");
    EXPECT_EQ(KCUPnPURL::parse("http://192.168.1.1/")->port, 80);
}

TEST(KCUPnPURL, LogSafeTextKeepsOneShortLine)
{
    EXPECT_EQ(KCUPnPLogSafeText("http://a/\r\nforged line\x01"), QStringLiteral("http://a/??forged line?"));
    const QString longText = KCUPnPLogSafeText(QByteArray(5000, 'a'));
    EXPECT_LT(longText.size(), 300);
    EXPECT_TRUE(longText.endsWith(QLatin1String("...")));
}

// A device list as upnpDiscover makes it: one allocation per node, strings in its tail.
UPNPDev *makeDevice(const char *url, UPNPDev *next)
{
    const size_t urlSize = std::strlen(url);
    auto *device = static_cast<UPNPDev *>(std::calloc(1, sizeof(UPNPDev) + urlSize + 2));
    device->pNext = next;
    device->descURL = device->buffer;
    std::memcpy(device->descURL, url, urlSize);
    device->st = device->buffer + urlSize + 1;
    return device;
}

TEST(KCMiniUPnPIGDClient, KeepsOnlyTheGatewaysOwnDevicesInOrder)
{
    KCLogCapture log;
    const char *urls[] = {
        "http://192.168.1.50:2869/desc.xml", // a second device answering first
        "http://192.168.1.1:5000/rootDesc.xml",
        "http://127.0.0.1:5000/rootDesc.xml",
        "http://169.254.3.3/rootDesc.xml",
        "http://239.255.255.250:1900/x",
        "http://igd.lan:5000/rootDesc.xml",
        "http://192.168.1.1:5000/other.xml",
    };
    UPNPDev *list = nullptr;
    for (int i = int(std::size(urls)) - 1; i >= 0; --i)
        list = makeDevice(urls[i], list);

    UPNPDev *kept = KCMiniUPnPIGDClient::keepGatewayDevices(list, address("192.168.1.1"));

    QStringList keptURLs;
    for (UPNPDev *device = kept; device; device = device->pNext)
        keptURLs.append(QString::fromLatin1(device->descURL));
    EXPECT_EQ(keptURLs, QStringList({QStringLiteral("http://192.168.1.1:5000/rootDesc.xml"),
                            QStringLiteral("http://192.168.1.1:5000/other.xml")}));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Ignoring UPnP device at http://192.168.1.50:2869/desc.xml: not the default gateway 192.168.1.1")));
    EXPECT_TRUE(log.contains(QStringLiteral("Ignoring UPnP device at http://127.0.0.1:5000/rootDesc.xml: a loopback, "
                                            "unspecified, link-local or multicast address")));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Ignoring UPnP device at http://igd.lan:5000/rootDesc.xml: not an http URL with an IPv4 address")));
    EXPECT_EQ(log.count(QStringLiteral("Ignoring UPnP device")), 5);
    freeUPNPDevlist(kept);

    EXPECT_EQ(KCMiniUPnPIGDClient::keepGatewayDevices(nullptr, address("192.168.1.1")), nullptr);
    // No default gateway: every device goes.
    EXPECT_EQ(KCMiniUPnPIGDClient::keepGatewayDevices(makeDevice(urls[1], nullptr), 0), nullptr);
}

TEST(KCMiniUPnPIGDClient, GivesAPI18MeaningsOnAPI17)
{
    using R = KCUPnPValidIGD;
    const std::vector<std::tuple<int, bool, int>> cases = {
        {1, false, R::ConnectedIGD}, {1, true, R::PrivateAddressIGD}, {2, false, R::DisconnectedIGD},
        {2, true, R::PrivateAddressIGD}, {3, false, R::UnknownDevice}, {0, false, R::NoIGD}, {-1, false, R::NoIGD},
        {4, false, R::NoIGD},
    };
    for (const auto &[api17, isPrivate, expected] : cases)
        EXPECT_EQ(KCMiniUPnPIGDClient::validIGDResultFromAPI17(api17, isPrivate), expected) << api17 << isPrivate;
    for (int result = 0; result <= 4; ++result)
        EXPECT_EQ(KCMiniUPnPIGDClient::validIGDResultFromAPI18(result), result);
    EXPECT_EQ(KCMiniUPnPIGDClient::validIGDResultFromAPI18(-1), R::NoIGD);
    EXPECT_EQ(KCMiniUPnPIGDClient::validIGDResultFromAPI18(5), R::NoIGD);
}

} // namespace
