#pragma once

#include "KCSystemPower.h"

// Power management a test drives. A take answers on the next turn of the event loop, as the real
// one answers later: the lock is then held, unless it was released meanwhile or the fake is
// unavailable (no logind), in which case the take fails. The events come from announceSleep()
// and the like; on wake the delay lock is taken again once it was ever taken, as logind's is.
class KCFakeSystemPower final : public KCSystemPower {
public:
    void takeIdleInhibitor(Completion completion) override;
    void releaseIdleInhibitor() override;
    bool holdsIdleInhibitor() const override { return _idle.held; }

    void takeDelayInhibitor(Completion completion) override;
    void releaseDelayInhibitor() override;
    bool holdsDelayInhibitor() const override { return _delay.held; }

    void announceSleep() { Q_EMIT willSleep(); }
    void announceWake();
    void announcePowerOff() { Q_EMIT willPowerOff(); }

    // While false, every take fails as it does without logind on the bus.
    bool available = true;
    int idleTakes = 0;
    int delayTakes = 0;
    int delayReleases = 0;
    // Runs on every release of the delay lock, so a test can see what was done by then.
    std::function<void()> delayReleased;

private:
    struct Lock {
        bool held = false;
        bool wanted = false;
    };

    void take(Lock &lock, Completion completion);

    Lock _idle;
    Lock _delay;
    bool _delayEverTaken = false;
};
