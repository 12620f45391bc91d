#pragma once

#include <QString>

// The system's service manager, as far as the daemon needs it: taking a service out of service
// for good (stopped now, not started again at boot).
class KCServiceManager {
public:
    virtual ~KCServiceManager() = default;
    // True when the service manager did both; false when it refused or could not be reached.
    virtual bool removeJob(const QString &unitName) = 0;
};
