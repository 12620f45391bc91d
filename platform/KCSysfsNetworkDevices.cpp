#include "KCSysfsNetworkDevices.h"

#include "KCSystemFiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <net/if.h>

bool KCNetworkDevices::isValidInterfaceName(const QString &name)
{
    return !name.isEmpty() && name.size() < IFNAMSIZ && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) && !name.contains(QLatin1Char(':'))
        && std::none_of(name.begin(), name.end(), [](QChar c) { return c.isSpace(); });
}

KCSysfsNetworkDevices::KCSysfsNetworkDevices(const QString &sysfsRoot)
    : m_classNet(QDir(sysfsRoot).filePath(QStringLiteral("class/net")))
{
}

KCNetworkDevices::List KCSysfsNetworkDevices::devices() const
{
    List list;
    const auto listing = KCSystemFiles::list(m_classNet);
    if (listing.error != 0) {
        list.error = listing.error;
        return list;
    }
    for (const QString &name : listing.names) {
        if (!isValidInterfaceName(name))
            continue;
        const QDir folder(QDir(m_classNet).filePath(name));
        bool indexOk = false;
        KCNetworkDevice device;
        device.name = name;
        device.index = KCSystemFiles::firstLine(folder.filePath(QStringLiteral("ifindex"))).toInt(&indexOk);
        if (!indexOk)
            continue; // gone while we looked
        device.type = KCSystemFiles::firstLine(folder.filePath(QStringLiteral("type"))).toInt();
        device.physical = QFileInfo::exists(folder.filePath(QStringLiteral("device")));
        device.wireless = QFileInfo::exists(folder.filePath(QStringLiteral("wireless")))
            || QFileInfo::exists(folder.filePath(QStringLiteral("phy80211")));
        list.devices.append(device);
    }
    std::sort(list.devices.begin(), list.devices.end(),
              [](const KCNetworkDevice &a, const KCNetworkDevice &b) { return a.index < b.index; });
    return list;
}

KCNetworkDevices::HardwareAddress KCSysfsNetworkDevices::hardwareAddress(const QString &interfaceName) const
{
    HardwareAddress address;
    if (!isValidInterfaceName(interfaceName)) {
        address.error = EINVAL;
        return address;
    }
    const auto contents = KCSystemFiles::read(QDir(m_classNet).filePath(interfaceName + QStringLiteral("/address")), 4096);
    if (!contents.ok()) {
        address.error = contents.error;
        return address;
    }
    // "aa:bb:cc:dd:ee:ff\n"; interfaces without an address have an empty line.
    const QByteArray text = contents.data.trimmed();
    if (text.isEmpty())
        return address;
    for (const QByteArray &part : text.split(':')) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || part.size() != 2 || byte > 0xff) {
            address.error = EINVAL;
            address.bytes.clear();
            return address;
        }
        address.bytes.append(char(byte));
    }
    return address;
}
