#include "KCSysfsPowerSupplies.h"

#include "KCSystemFiles.h"

#include <QDir>

KCSysfsPowerSupplies::KCSysfsPowerSupplies(const QString &sysfsRoot)
    : m_folder(QDir(sysfsRoot).filePath(QStringLiteral("class/power_supply")))
{
}

bool KCSysfsPowerSupplies::onMainsPower() const
{
    const auto listing = KCSystemFiles::list(m_folder);
    if (listing.error != 0)
        return false;
    bool hasSystemBattery = false;
    for (const QString &name : listing.names) {
        const QDir supply(QDir(m_folder).filePath(name));
        const QString type = KCSystemFiles::firstLine(supply.filePath(QStringLiteral("type")));
        const bool peripheral = KCSystemFiles::firstLine(supply.filePath(QStringLiteral("scope"))) == QLatin1String("Device");
        if (peripheral)
            continue;
        if ((type == QLatin1String("Mains") || type == QLatin1String("USB"))
            && KCSystemFiles::firstLine(supply.filePath(QStringLiteral("online"))) == QLatin1String("1"))
            return true;
        if (type == QLatin1String("Battery"))
            hasSystemBattery = true;
    }
    return !hasSystemBattery;
}
