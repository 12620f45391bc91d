#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A network interface as the kernel's device model describes it.
struct KCNetworkDevice {
    QString name;
    int index = 0;
    int type = 0; // ARPHRD_*: 1 is Ethernet (Wi-Fi included)
    bool physical = false; // backed by hardware rather than made in software (bridge, veth, tun)
    bool wireless = false;
};

// The network devices of the machine and their hardware addresses. Safe to use from any thread.
class KCNetworkDevices {
public:
    virtual ~KCNetworkDevices() = default;

    struct List {
        int error = 0; // errno when the devices could not be listed
        QList<KCNetworkDevice> devices;
    };
    virtual List devices() const = 0;

    struct HardwareAddress {
        int error = 0; // errno when the address could not be read
        QByteArray bytes;
    };
    virtual HardwareAddress hardwareAddress(const QString &interfaceName) const = 0;

    // Whether a name can be an interface name: what the kernel allows, and nothing that could
    // climb out of a device folder.
    static bool isValidInterfaceName(const QString &name);
};
