#pragma once

#include "KCHardwareIdentity.h"

// Reads the firmware's identity from sysfs (DMI tables on PCs) and from the device tree (boards
// such as the Raspberry Pi). Only root can read the DMI UUID and serial number.
class KCLinuxHardwareIdentity final : public KCHardwareIdentity {
public:
    // Paths are looked up under root, so tests can lay out a fake /sys and /proc.
    explicit KCLinuxHardwareIdentity(const QString &root = QStringLiteral("/"));

    std::optional<QString> systemUUID() const override;
    std::optional<QString> serialNumber() const override;

    // Trims the text and drops what firmware writes when it has no real value.
    static std::optional<QString> meaningfulValue(const QByteArray &raw);

private:
    std::optional<QString> readValue(const QString &relativePath) const;

    QString m_root;
};
