#pragma once

#include "KCError.h"

#include <QObject>

#include <functional>
#include <optional>

// The system's power management as the daemon needs it: keeping the machine from idle sleep while
// the user asks for it, and hearing about sleep, wake and power-off early enough to tell the
// account service and the router first.
class KCSystemPower : public QObject {
    Q_OBJECT
public:
    // Runs once, later on this thread: no error when the lock is held, else why not.
    using Completion = std::function<void(const std::optional<KCError> &error)>;

    using QObject::QObject;

    // The lock that keeps the system from going to sleep by itself (forced sleep still happens).
    // Releasing while a take is under way releases the lock as soon as it arrives.
    virtual void takeIdleInhibitor(Completion completion) = 0;
    virtual void releaseIdleInhibitor() = 0;
    virtual bool holdsIdleInhibitor() const = 0;

    // The lock that holds sleep and power-off back until the daemon's work for willSleep() or
    // willPowerOff() went out, bounded by the system's own maximum delay. After releasing it for a
    // sleep, it is taken again on wake.
    virtual void takeDelayInhibitor(Completion completion) = 0;
    virtual void releaseDelayInhibitor() = 0;
    virtual bool holdsDelayInhibitor() const = 0;

Q_SIGNALS:
    void willSleep();
    void didWake();
    void willPowerOff();
};
