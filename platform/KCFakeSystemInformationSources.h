#pragma once

#include "KCSystemInformationSources.h"

#include <QMap>

// Every system-information source at once, answering from plain fields a test fills in. The
// defaults describe a machine with nothing: no interfaces, routes, devices, services or
// configuration, no encryption and no mains power. Not for use from several threads at once.
class KCFakeSystemInformationSources final : public KCInterfaceList,
                                             public KCRoutingTables,
                                             public KCNetworkDevices,
                                             public KCServicesDatabase,
                                             public KCSshdSettings,
                                             public KCDiskEncryption,
                                             public KCPowerSupplies,
                                             public KCMachineName {
public:
    QList<KCInterfaceAddress> interfaceAddressList;
    std::optional<KCGlobalIPv4State> defaultRoute;
    Neighbours neighbours;
    List deviceList;
    QMap<QString, HardwareAddress> hardwareAddresses; // by interface name; absent names give ENOENT
    QMap<QString, quint16> tcpPorts;                   // by service name
    std::optional<QString> sshListener;
    bool encrypted = false;
    bool mains = false;
    QString kernelHostName;

    // Appends an up, non-loopback interface with an IPv4 address and a link-layer address.
    void addInterface(const QString &name, const QString &ipv4, const QByteArray &hardwareAddress);
    // Adds a device of the given type (1 is Ethernet) with its sysfs hardware address.
    void addDevice(const QString &name, int index, bool physical, bool wireless, const QByteArray &hardwareAddress, int type = 1);

    KCSystemInformationSources sources() const;

    QList<KCInterfaceAddress> interfaceAddresses() const override { return interfaceAddressList; }
    std::optional<KCGlobalIPv4State> defaultIPv4Route() const override { return defaultRoute; }
    Neighbours ipv4Neighbours() const override { return neighbours; }
    List devices() const override { return deviceList; }
    HardwareAddress hardwareAddress(const QString &interfaceName) const override;
    std::optional<quint16> tcpPort(const QString &serviceName) const override;
    std::optional<QString> listenerValue() const override { return sshListener; }
    bool rootFileSystemEncrypted() const override { return encrypted; }
    bool onMainsPower() const override { return mains; }
    QString hostName() const override { return kernelHostName; }
};
