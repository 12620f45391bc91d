#pragma once

#include "KCHardwareIdentity.h"

// A machine whose firmware says whatever the test sets.
class KCFakeHardwareIdentity final : public KCHardwareIdentity {
public:
    KCFakeHardwareIdentity(std::optional<QString> systemUUID = std::nullopt, std::optional<QString> serialNumber = std::nullopt)
        : uuid(std::move(systemUUID))
        , serial(std::move(serialNumber))
    {
    }
    std::optional<QString> systemUUID() const override { return uuid; }
    std::optional<QString> serialNumber() const override { return serial; }

    std::optional<QString> uuid;
    std::optional<QString> serial;
};
