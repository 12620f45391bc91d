#include "KCDaemonSystemInformation.h"

#include "KCLinuxDynamicStore.h"
#include "KCLog.h"


#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr quint16 defaultSshPort = 22;
constexpr quint16 defaultVncPort = 5900;
// The answer when the secure-shell server is configured to listen on something that is not a
// TCP port we can name.
constexpr quint16 unusableSshListener = 65535;
constexpr int ethernetType = 1; // ARPHRD_ETHER

QString dottedText(quint32 networkOrder)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &networkOrder, text, sizeof text);
    return QString::fromLatin1(text);
}

// The physical Ethernet and Wi-Fi interfaces in index order.
QList<KCNetworkDevice> physicalEthernetDevices(const KCNetworkDevices::List &list)
{
    QList<KCNetworkDevice> devices;
    for (const KCNetworkDevice &device : list.devices) {
        if (device.physical && (device.type == ethernetType || device.wireless))
            devices.append(device);
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [](const KCNetworkDevice &a, const KCNetworkDevice &b) { return a.index < b.index; });
    return devices;
}

// The first IPv4 address of "en0", else of "en1", among the addresses that pass the filter.
std::optional<quint32> primaryIPv4Address(const KCDaemonSystemInformation::Sources &sources,
                                          bool (*accept)(const KCInterfaceAddress &))
{
    const QStringList primaries = KCDaemonSystemInformation::primaryInterfaceNames(sources);
    if (primaries.isEmpty())
        return std::nullopt;
    const QList<KCInterfaceAddress> addresses = sources.interfaces->interfaceAddresses();
    for (const QString &name : primaries) {
        for (const KCInterfaceAddress &address : addresses) {
            if (address.family == KCInterfaceAddress::Family::IPv4 && address.name == name && accept(address))
                return address.ipv4;
        }
    }
    return std::nullopt;
}

} // namespace

std::unique_ptr<KCDaemonSystemInformation> KCDaemonSystemInformation::initWithDelegate(KCDaemonSystemInformationDelegate *delegate)
{
    return std::make_unique<KCDaemonSystemInformation>(delegate, KCLinuxDynamicStore::createSystemStore());
}

KCDaemonSystemInformation::KCDaemonSystemInformation(KCDaemonSystemInformationDelegate *delegate,
                                                     std::unique_ptr<KCDynamicStore> store, const Sources &sources,
                                                     QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_store(std::move(store))
    , m_sources(sources)
{
    m_computerName = _findComputerName();
    m_localHostname = _findLocalHostname();
    connect(m_store.get(), &KCDynamicStore::keysChanged, this, &KCDaemonSystemInformation::keysChanged);
}

KCDaemonSystemInformation::~KCDaemonSystemInformation() = default;

QString KCDaemonSystemInformation::_findComputerName() const
{
    const auto stored = m_store->computerName();
    if (stored && !stored->isEmpty())
        return *stored;
    const QString hostName = m_sources.machineName->hostName();
    if (!hostName.isEmpty())
        return hostName;
    return QStringLiteral("Macintosh");
}

QString KCDaemonSystemInformation::_findLocalHostname() const
{
    const auto stored = m_store->localHostName();
    if (stored && !stored->isEmpty())
        return QStringLiteral("%1.local.").arg(*stored);
    return QStringLiteral("scerrorhostnamenull.local.");
}

void KCDaemonSystemInformation::keysChanged(KCDynamicStoreKeys keys)
{
    if (keys.testFlag(KCDynamicStoreKey::ComputerName)) {
        m_computerName = _findComputerName();
        if (m_delegate)
            m_delegate->computerNameChanged(m_computerName);
    }
    if (keys.testFlag(KCDynamicStoreKey::HostNames)) {
        m_localHostname = _findLocalHostname();
        if (m_delegate)
            m_delegate->computerLocalHostnameChanged(m_localHostname);
    }
    if (keys.testFlag(KCDynamicStoreKey::GlobalIPv4) && m_delegate)
        m_delegate->networkConfigurationChanged();
}

quint16 KCDaemonSystemInformation::sshListeningPort() const
{
    const auto value = m_sources.sshd->listenerValue();
    if (!value)
        return defaultSshPort;
    const QString listener = value->trimmed();
    const auto isAsciiDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    const auto isAsciiLetter = [](QChar c) { return c.unicode() < 128 && c.isLetter(); };
    if (!listener.isEmpty() && std::all_of(listener.begin(), listener.end(), isAsciiDigit)) {
        bool ok = false;
        const uint port = listener.toUInt(&ok);
        return ok && port >= 1 && port <= 65535 ? quint16(port) : unusableSshListener;
    }
    // Service names as the services database spells them: "ssh", "ssh-alt", "x11.mit".
    const bool serviceName = !listener.isEmpty() && isAsciiLetter(listener[0])
        && std::all_of(listener.begin(), listener.end(), [&](QChar c) {
               return isAsciiLetter(c) || isAsciiDigit(c) || QStringLiteral("-_.+").contains(c);
           });
    if (serviceName)
        return m_sources.services->tcpPort(listener).value_or(defaultSshPort);
    return unusableSshListener;
}

quint16 KCDaemonSystemInformation::vncListeningPort() const
{
    return m_sources.services->tcpPort(QStringLiteral("vnc-server")).value_or(defaultVncPort);
}

QStringList KCDaemonSystemInformation::primaryInterfaceNames(const Sources &sources)
{
    QStringList names;
    if (const auto route = sources.routing->defaultIPv4Route(); route && !route->primaryInterface.isEmpty())
        names.append(route->primaryInterface);
    for (const KCNetworkDevice &device : physicalEthernetDevices(sources.networkDevices->devices())) {
        if (names.size() == 2)
            break;
        if (!names.contains(device.name))
            names.append(device.name);
    }
    return names;
}

quint32 KCDaemonSystemInformation::rawLocalAddress(const Sources &sources)
{
    return primaryIPv4Address(sources, [](const KCInterfaceAddress &address) { return address.up && !address.loopback; }).value_or(0);
}

std::optional<QString> KCDaemonSystemInformation::localIPv4Address(const Sources &sources)
{
    const auto address = primaryIPv4Address(sources, [](const KCInterfaceAddress &) { return true; });
    if (!address)
        return std::nullopt;
    return dottedText(*address);
}

std::optional<QString> KCDaemonSystemInformation::privateIPAddress(const Sources &sources)
{
    const quint32 raw = rawLocalAddress(sources);
    if (raw == 0)
        return localIPv4Address(sources);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&raw);
    return QStringLiteral("%1.%2.%3.%4").arg(uint(bytes[0])).arg(uint(bytes[1])).arg(uint(bytes[2])).arg(uint(bytes[3]));
}

std::optional<QString> KCDaemonSystemInformation::interfaceNameForIPAddress(const QString &address, const Sources &sources)
{
    for (const KCInterfaceAddress &entry : sources.interfaces->interfaceAddresses()) {
        if (entry.family != KCInterfaceAddress::Family::IPv4)
            continue;
        const QString text = dottedText(entry.ipv4);
        qCInfo(lcKC).noquote() << QStringLiteral("interface name: %1; address: %2").arg(entry.name, text);
        if (text == address)
            return entry.name;
    }
    return std::nullopt;
}

std::optional<QString> KCDaemonSystemInformation::privateIPAddressToMACAddress(const QString &address, const Sources &sources)
{
    if (address.isEmpty())
        return std::nullopt;
    const KCRoutingTables::Neighbours neighbours = sources.routing->ipv4Neighbours();
    switch (neighbours.error) {
    case KCRoutingTables::Error::None:
        break;
    case KCRoutingTables::Error::RequestFailed:
        qCWarning(lcKC).noquote() << QStringLiteral("error in route-sysctl-estimate");
        return std::nullopt;
    case KCRoutingTables::Error::TooLarge:
        qCWarning(lcKC).noquote() << QStringLiteral("error in malloc");
        return std::nullopt;
    case KCRoutingTables::Error::ReadFailed:
        qCWarning(lcKC).noquote() << QStringLiteral("retrieval of routing table");
        return std::nullopt;
    }
    for (const KCNeighbour &entry : neighbours.entries) {
        if (dottedText(entry.address) != address)
            continue;
        if (const auto hardware = KCHardwareAddress::fromBytes(entry.hardwareAddress))
            return hardware->colonText();
    }
    return std::nullopt;
}

std::optional<KCHardwareAddress> KCDaemonSystemInformation::ioRegistryMACAddressForPrimaryInterfaceNamed(
    const std::optional<QString> &interfaceName, const Sources &sources)
{
    const bool named = interfaceName && !interfaceName->isEmpty();
    // A name that cannot be an interface's cannot be matched (nor put into a device path).
    if (named && !KCNetworkDevices::isValidInterfaceName(*interfaceName)) {
        qCWarning(lcKC).noquote() << QStringLiteral("IOServiceMatching() returned empty dictionary");
        return std::nullopt;
    }
    const KCNetworkDevices::List list = sources.networkDevices->devices();
    if (list.error != 0) {
        qCWarning(lcKC).noquote() << QStringLiteral("IOServiceGetMatchingServices() returned %1").arg(list.error);
        return std::nullopt;
    }
    for (const KCNetworkDevice &device : physicalEthernetDevices(list)) {
        if (named && device.name != *interfaceName)
            continue;
        const KCNetworkDevices::HardwareAddress hardware = sources.networkDevices->hardwareAddress(device.name);
        if (hardware.error != 0) {
            qCWarning(lcKC).noquote() << QStringLiteral("IORegistryGetParentEntry returned %1").arg(hardware.error);
            continue;
        }
        if (const auto address = KCHardwareAddress::fromBytes(hardware.bytes))
            return address;
    }
    return std::nullopt;
}

std::optional<KCHardwareAddress> KCDaemonSystemInformation::primaryMACAddress(const Sources &sources)
{
    return ioRegistryMACAddressForPrimaryInterfaceNamed(std::nullopt, sources);
}

std::optional<KCHardwareAddress> KCDaemonSystemInformation::macAddressForInterfaceNamed(const QString &interfaceName,
                                                                                        const Sources &sources)
{
    if (interfaceName.isEmpty())
        return std::nullopt;
    return ioRegistryMACAddressForPrimaryInterfaceNamed(interfaceName, sources);
}

std::optional<KCHardwareAddress> KCDaemonSystemInformation::linkLayerMACAddressForInterfaceNamed(const QString &interfaceName,
                                                                                                 const Sources &sources)
{
    if (interfaceName.isEmpty())
        return std::nullopt;
    for (const KCInterfaceAddress &entry : sources.interfaces->interfaceAddresses()) {
        if (entry.family == KCInterfaceAddress::Family::LinkLayer && entry.name == interfaceName)
            return KCHardwareAddress::fromBytes(entry.linkLayerAddress);
    }
    return std::nullopt;
}

QString KCDaemonSystemInformation::macAddressHexString(bool removeColons, const Sources &sources)
{
    std::optional<KCHardwareAddress> found = primaryMACAddress(sources);
    if (!found) {
        const auto address = privateIPAddress(sources);
        const auto interfaceName = address ? interfaceNameForIPAddress(*address, sources) : std::nullopt;
        if (interfaceName)
            found = macAddressForInterfaceNamed(*interfaceName, sources);
        if (!found && address) {
            if (const auto neighbour = privateIPAddressToMACAddress(*address, sources))
                found = KCHardwareAddress::fromText(*neighbour);
        }
        if (!found && interfaceName)
            found = linkLayerMACAddressForInterfaceNamed(*interfaceName, sources);
    }
    if (!found)
        return QStringLiteral("000000000000");
    return removeColons ? found->hexText() : found->colonText();
}

bool KCDaemonSystemInformation::isFileVaultEnabled(const Sources &sources)
{
    return sources.diskEncryption->rootFileSystemEncrypted();
}

bool KCDaemonSystemInformation::isPluggedIntoPowerOutlet(const Sources &sources)
{
    return sources.powerSupplies->onMainsPower();
}
