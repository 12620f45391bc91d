#pragma once

#include "KCNetworkDevices.h"

// The network devices under sysfs's class/net: the index, type and address files, and the
// device link that physical interfaces have.
class KCSysfsNetworkDevices final : public KCNetworkDevices {
public:
    explicit KCSysfsNetworkDevices(const QString &sysfsRoot = QStringLiteral("/sys"));

    List devices() const override;
    HardwareAddress hardwareAddress(const QString &interfaceName) const override;

private:
    QString m_classNet;
};
