#pragma once

#include "KCPowerSupplies.h"

#include <QString>

// The power supplies under sysfs's class/power_supply. The machine is on mains power when an
// external supply (a mains adapter, or a USB-C charger the kernel lists as a USB supply) is
// online, or when it has no battery of its own at all, as a desktop has none. The batteries of
// wireless mice and keyboards (scope "Device") do not count.
class KCSysfsPowerSupplies final : public KCPowerSupplies {
public:
    explicit KCSysfsPowerSupplies(const QString &sysfsRoot = QStringLiteral("/sys"));

    bool onMainsPower() const override;

private:
    QString m_folder;
};
