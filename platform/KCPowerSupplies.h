#pragma once

// Where the machine's power comes from. Safe from any thread.
class KCPowerSupplies {
public:
    virtual ~KCPowerSupplies() = default;
    // True when the machine draws mains power; false when it cannot be told.
    virtual bool onMainsPower() const = 0;
};
