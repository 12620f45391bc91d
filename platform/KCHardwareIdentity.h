#pragma once

#include <QString>

#include <optional>

// What the firmware says identifies this machine. Either may be missing: virtual machines and
// boards without firmware tables have neither, and placeholder values count as missing.
class KCHardwareIdentity {
public:
    virtual ~KCHardwareIdentity() = default;
    virtual std::optional<QString> systemUUID() const = 0;
    virtual std::optional<QString> serialNumber() const = 0;
};
