#include "KCFakeSystemInformationSources.h"

#include <arpa/inet.h>
#include <cerrno>

void KCFakeSystemInformationSources::addInterface(const QString &name, const QString &ipv4, const QByteArray &hardwareAddress)
{
    KCInterfaceAddress link;
    link.name = name;
    link.up = true;
    link.family = KCInterfaceAddress::Family::LinkLayer;
    link.linkLayerAddress = hardwareAddress;
    interfaceAddressList.append(link);

    KCInterfaceAddress address = link;
    address.family = KCInterfaceAddress::Family::IPv4;
    address.linkLayerAddress.clear();
    in_addr parsed{};
    ::inet_pton(AF_INET, ipv4.toLatin1().constData(), &parsed);
    address.ipv4 = parsed.s_addr;
    interfaceAddressList.append(address);
}

void KCFakeSystemInformationSources::addDevice(const QString &name, int index, bool physical, bool wireless,
                                               const QByteArray &hardwareAddress, int type)
{
    deviceList.devices.append({name, index, type, physical, wireless});
    hardwareAddresses.insert(name, {0, hardwareAddress});
}

KCSystemInformationSources KCFakeSystemInformationSources::sources() const
{
    return {this, this, this, this, this, this, this, this};
}

KCNetworkDevices::HardwareAddress KCFakeSystemInformationSources::hardwareAddress(const QString &interfaceName) const
{
    return hardwareAddresses.value(interfaceName, {ENOENT, {}});
}

std::optional<quint16> KCFakeSystemInformationSources::tcpPort(const QString &serviceName) const
{
    const auto found = tcpPorts.find(serviceName);
    if (found == tcpPorts.end())
        return std::nullopt;
    return *found;
}
