#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <optional>

// UPnP Internet Gateway Device control, as the port mapper's worker-thread jobs use it. Every
// call blocks (discovery waits up to two seconds for answers), so none may run on the main thread.
// The miniupnpc adapter implements it for real; tests use a scripted fake.

// One picked gateway device: its URLs and description data, the LAN address this machine used
// to reach it and the WAN address it reported. Destroying the session releases all of it. All
// SOAP calls go to the control URL of the device's first WAN connection service, with that
// service's type.
class KCUPnPIGDSession {
public:
    virtual ~KCUPnPIGDSession() = default;

    virtual QByteArray rootDescriptionURL() const = 0;
    // The type of the first WAN connection service, empty when the description named none.
    virtual QByteArray serviceType() const = 0;
    virtual QByteArray lanAddress() const = 0;
    // Empty where the library does not report one.
    virtual QByteArray wanAddress() const = 0;

    // Each returns 0 on success, else a UPnP error code (718 conflict, 606 not authorised, ...)
    // or a negative library code. The remote host is always "any".
    virtual int addPortMapping(uint16_t externalPort, uint16_t internalPort, const QByteArray &internalClient,
        const QByteArray &description, const QByteArray &protocol, const QByteArray &leaseDuration) = 0;
    virtual int deletePortMapping(uint16_t externalPort, const QByteArray &protocol) = 0;
    virtual int getExternalIPAddress(QByteArray &address) = 0;
    // 0 when a mapping of the external port and protocol exists.
    virtual int getSpecificPortMappingEntry(uint16_t externalPort, const QByteArray &protocol) = 0;

    // The root description document, size-capped and under a deadline; nothing on failure.
    virtual std::optional<QByteArray> fetchRootDescription() = 0;
};

// What picking a gateway device gave, with the meanings of miniupnpc's API 18 on any version.
struct KCUPnPValidIGD {
    enum Result : int {
        NoIGD = 0,            // nothing usable
        ConnectedIGD = 1,
        PrivateAddressIGD = 2, // connected, but its own WAN address is private
        DisconnectedIGD = 3,   // an IGD that reports itself not connected
        UnknownDevice = 4,     // a UPnP device that is not an IGD
    };
    int result = NoIGD;
    // Set for every result but NoIGD.
    std::unique_ptr<KCUPnPIGDSession> session;
};

// Devices that answered a discovery and passed the gateway check. Destroying the list frees it.
class KCUPnPDeviceList {
public:
    virtual ~KCUPnPDeviceList() = default;
    virtual KCUPnPValidIGD validIGD() = 0;
};

struct KCUPnPDiscovery {
    // None when no device (at the gateway's address) answered.
    std::unique_ptr<KCUPnPDeviceList> devices;
    // The library reported an error (no socket, no route for multicast, ...).
    bool reportedError = false;
};

class KCUPnPIGDClient {
public:
    virtual ~KCUPnPIGDClient() = default;

    // Searches the LAN for gateway devices and keeps only those whose description URL's host is
    // the default gateway (IPv4, network byte order, as the caller captured it on the main
    // thread; 0 when there is no default route). Every other device is logged and dropped.
    virtual KCUPnPDiscovery discover(uint32_t gatewayAddress) = 0;
};
