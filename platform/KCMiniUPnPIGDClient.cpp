#include "KCMiniUPnPIGDClient.h"

#include "KCBoundedHTTPFetch.h"
#include "KCIPv4Address.h"
#include "KCLog.h"
#include "KCUPnPURL.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

namespace {

constexpr int kDiscoveryDelayMilliseconds = 2000;
constexpr unsigned char kDiscoveryTTL = 2;
// An empty path keeps miniupnpc from asking a MiniSSDPd (a null pointer would mean its default
// socket).
constexpr const char *kNoMiniSSDPd = "";

QByteArray fromBuffer(const char *buffer, size_t capacity)
{
    return buffer ? QByteArray(buffer, qsizetype(qstrnlen(buffer, capacity))) : QByteArray();
}

QString verdictText(KCUPnPURLVerdict verdict, uint32_t gatewayAddress)
{
    switch (verdict) {
    case KCUPnPURLVerdict::NotAnIPv4HTTPURL:
        return QStringLiteral("not an http URL with an IPv4 address");
    case KCUPnPURLVerdict::ForbiddenAddress:
        return QStringLiteral("a loopback, unspecified, link-local or multicast address");
    case KCUPnPURLVerdict::NotTheGateway:
        return gatewayAddress == 0 ? QStringLiteral("there is no default gateway")
                                   : QStringLiteral("not the default gateway %1").arg(KCIPv4Address::toString(gatewayAddress));
    case KCUPnPURLVerdict::Accepted:
        break;
    }
    return QString();
}

class KCMiniUPnPIGDSession final : public KCUPnPIGDSession {
public:
    explicit KCMiniUPnPIGDSession(uint32_t gatewayAddress) : m_gatewayAddress(gatewayAddress) {}
    ~KCMiniUPnPIGDSession() override { FreeUPNPUrls(&urls); }
    KCMiniUPnPIGDSession(const KCMiniUPnPIGDSession &) = delete;
    KCMiniUPnPIGDSession &operator=(const KCMiniUPnPIGDSession &) = delete;

    QByteArray rootDescriptionURL() const override { return fromBuffer(urls.rootdescURL, 4096); }
    QByteArray serviceType() const override { return fromBuffer(data.first.servicetype, sizeof data.first.servicetype); }
    QByteArray lanAddress() const override { return lan; }
    QByteArray wanAddress() const override { return wan; }

    int addPortMapping(uint16_t externalPort, uint16_t internalPort, const QByteArray &internalClient,
        const QByteArray &description, const QByteArray &protocol, const QByteArray &leaseDuration) override
    {
        return UPNP_AddPortMapping(urls.controlURL, data.first.servicetype, QByteArray::number(externalPort).constData(),
            QByteArray::number(internalPort).constData(), internalClient.constData(), description.constData(),
            protocol.constData(), nullptr, leaseDuration.constData());
    }

    int deletePortMapping(uint16_t externalPort, const QByteArray &protocol) override
    {
        return UPNP_DeletePortMapping(urls.controlURL, data.first.servicetype,
            QByteArray::number(externalPort).constData(), protocol.constData(), nullptr);
    }

    int getExternalIPAddress(QByteArray &address) override
    {
        char text[64] = {};
        const int result = UPNP_GetExternalIPAddress(urls.controlURL, data.first.servicetype, text);
        address = fromBuffer(text, sizeof text);
        return result;
    }

    int getSpecificPortMappingEntry(uint16_t externalPort, const QByteArray &protocol) override
    {
        // Larger than the library's documented minimums (16, 6, 80, 4, 16).
        char internalClient[64] = {};
        char internalPort[16] = {};
        char description[256] = {};
        char enabled[16] = {};
        char leaseDuration[32] = {};
        return UPNP_GetSpecificPortMappingEntry(urls.controlURL, data.first.servicetype,
            QByteArray::number(externalPort).constData(), protocol.constData(), nullptr, internalClient, internalPort,
            description, enabled, leaseDuration);
    }

    std::optional<QByteArray> fetchRootDescription() override
    {
        const QByteArray url = rootDescriptionURL();
        if (KCUPnPCheckURLAgainstGateway(url, m_gatewayAddress) != KCUPnPURLVerdict::Accepted)
            return std::nullopt;
        return KCBoundedHTTPFetch::get(url);
    }

#if MINIUPNPC_API_VERSION < 18
    bool reportsConnected()
    {
        char status[64] = {};
        char lastConnectionError[64] = {};
        unsigned int uptime = 0;
        return UPNP_GetStatusInfo(urls.controlURL, data.first.servicetype, status, &uptime, lastConnectionError) == 0
            && qstrncmp(status, "Connected", sizeof status) == 0;
    }

    bool externalAddressIsPrivate()
    {
        QByteArray text;
        if (getExternalIPAddress(text) != 0)
            return false;
        const std::optional<uint32_t> address = KCIPv4Address::parse(text);
        return address && KCIPv4Address::isPrivate(*address);
    }
#endif

    // The description names the control URL: a router's own document must not send our SOAP
    // requests anywhere but to the router.
    bool controlURLIsOnGateway() const
    {
        const QByteArray url = fromBuffer(urls.controlURL, 4096);
        const KCUPnPURLVerdict verdict = KCUPnPCheckURLAgainstGateway(url, m_gatewayAddress);
        if (verdict == KCUPnPURLVerdict::Accepted)
            return true;
        qCWarning(lcKC).noquote() << QStringLiteral("Ignoring UPnP gateway device %1: its control URL %2 is %3")
                                         .arg(KCUPnPLogSafeText(rootDescriptionURL()), KCUPnPLogSafeText(url),
                                             verdictText(verdict, m_gatewayAddress));
        return false;
    }

    UPNPUrls urls {};
    IGDdatas data {};
    QByteArray lan;
    QByteArray wan;

private:
    uint32_t m_gatewayAddress;
};

class KCMiniUPnPDeviceList final : public KCUPnPDeviceList {
public:
    KCMiniUPnPDeviceList(UPNPDev *devices, uint32_t gatewayAddress)
        : m_devices(devices), m_gatewayAddress(gatewayAddress)
    {
    }
    ~KCMiniUPnPDeviceList() override { freeUPNPDevlist(m_devices); }
    KCMiniUPnPDeviceList(const KCMiniUPnPDeviceList &) = delete;
    KCMiniUPnPDeviceList &operator=(const KCMiniUPnPDeviceList &) = delete;

    KCUPnPValidIGD validIGD() override
    {
        auto session = std::make_unique<KCMiniUPnPIGDSession>(m_gatewayAddress);
        char lan[64] = {};
#if MINIUPNPC_API_VERSION >= 18
        char wan[64] = {};
        int result = KCMiniUPnPIGDClient::validIGDResultFromAPI18(
            UPNP_GetValidIGD(m_devices, &session->urls, &session->data, lan, sizeof lan, wan, sizeof wan));
        session->wan = fromBuffer(wan, sizeof wan);
#else
        const int api17Result = UPNP_GetValidIGD(m_devices, &session->urls, &session->data, lan, sizeof lan);
        int result = KCMiniUPnPIGDClient::validIGDResultFromAPI17(api17Result, false);
#endif
        if (result == KCUPnPValidIGD::NoIGD)
            return {};
        session->lan = fromBuffer(lan, sizeof lan);
#if MINIUPNPC_API_VERSION < 18
        // API 17 says 2, "not connected", also for a connected IGD whose external address is
        // private: only the device itself can tell the two apart, once we know its control URL
        // is the router's.
        const bool mayControl = api17Result == 1 || api17Result == 2;
        if (mayControl && !session->controlURLIsOnGateway())
            return {};
        if (mayControl) {
            const bool connected = api17Result == 1 || session->reportsConnected();
            result = KCMiniUPnPIGDClient::validIGDResultFromAPI17(
                api17Result, connected && session->externalAddressIsPrivate());
        }
#else
        const bool willControl = result == KCUPnPValidIGD::ConnectedIGD || result == KCUPnPValidIGD::PrivateAddressIGD;
        // The description names the control URL: a router's own document must not send our
        // SOAP requests anywhere but to the router.
        if (willControl && !session->controlURLIsOnGateway())
            return {};
#endif
        return {result, std::move(session)};
    }

private:
    UPNPDev *m_devices;
    uint32_t m_gatewayAddress;
};

} // namespace

int KCMiniUPnPIGDClient::validIGDResultFromAPI17(int api17Result, bool connectedWithPrivateAddress)
{
    switch (api17Result) {
    case 1:
        return connectedWithPrivateAddress ? KCUPnPValidIGD::PrivateAddressIGD : KCUPnPValidIGD::ConnectedIGD;
    case 2:
        return connectedWithPrivateAddress ? KCUPnPValidIGD::PrivateAddressIGD : KCUPnPValidIGD::DisconnectedIGD;
    case 3:
        return KCUPnPValidIGD::UnknownDevice;
    default:
        return KCUPnPValidIGD::NoIGD;
    }
}

int KCMiniUPnPIGDClient::validIGDResultFromAPI18(int api18Result)
{
    return api18Result >= KCUPnPValidIGD::ConnectedIGD && api18Result <= KCUPnPValidIGD::UnknownDevice
        ? api18Result
        : int(KCUPnPValidIGD::NoIGD);
}

UPNPDev *KCMiniUPnPIGDClient::keepGatewayDevices(UPNPDev *devices, uint32_t gatewayAddress)
{
    UPNPDev *kept = nullptr;
    UPNPDev **tail = &kept;
    while (devices) {
        UPNPDev *device = devices;
        devices = device->pNext;
        device->pNext = nullptr;
        const QByteArray url = fromBuffer(device->descURL, 4096);
        const KCUPnPURLVerdict verdict = KCUPnPCheckURLAgainstGateway(url, gatewayAddress);
        if (verdict == KCUPnPURLVerdict::Accepted) {
            *tail = device;
            tail = &device->pNext;
            continue;
        }
        qCInfo(lcKC).noquote() << QStringLiteral("Ignoring UPnP device at %1: %2")
                                      .arg(KCUPnPLogSafeText(url), verdictText(verdict, gatewayAddress));
        freeUPNPDevlist(device);
    }
    return kept;
}

KCUPnPDiscovery KCMiniUPnPIGDClient::discover(uint32_t gatewayAddress)
{
    KCUPnPDiscovery discovery;
    // Without a default route there is no router to find, and nothing to send.
    if (gatewayAddress == 0)
        return discovery;
    int error = UPNPDISCOVER_SUCCESS;
    UPNPDev *found = upnpDiscover(kDiscoveryDelayMilliseconds, nullptr, kNoMiniSSDPd, UPNP_LOCAL_PORT_ANY, 0,
        kDiscoveryTTL, &error);
    discovery.reportedError = error != UPNPDISCOVER_SUCCESS;
    if (UPNPDev *kept = keepGatewayDevices(found, gatewayAddress))
        discovery.devices = std::make_unique<KCMiniUPnPDeviceList>(kept, gatewayAddress);
    return discovery;
}
