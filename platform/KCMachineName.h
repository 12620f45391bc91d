#pragma once

#include <QString>

// The name the kernel knows the machine by (gethostname). Safe from any thread.
class KCMachineName {
public:
    virtual ~KCMachineName() = default;
    // Empty when none is set.
    virtual QString hostName() const = 0;
};
