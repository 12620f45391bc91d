// The application object and the system's power management: keeping the machine from idle sleep
// while the user asks for it, and the account service's and the router's last word before the
// machine sleeps or stops.
//
// On logind the registration for power events is the delay lock: sleep and power-off wait for
// its holder (up to logind's InhibitDelayMaxSec) after PrepareForSleep or PrepareForShutdown.
// The idle lock stands for refusing idle sleep: it keeps the machine from sleeping on its own,
// while sleep the user or the system forces still happens. logind never asks whether the machine
// may sleep, so the two log lines of that question go with taking and releasing the idle lock.
// PrepareForShutdown does not tell a restart from a power-off, so both log the power-off line.

#include "KCDaemonApplicationMain.h"

#include "KCLog.h"

#include <QPointer>

bool KCDaemonApplicationMain::registerForSystemPower()
{
    if (_powerRegistered)
        return true;
    if (_powerRegistering)
        return false;
    _powerRegistering = true;
    // The power management may answer after the daemon is gone.
    QPointer<KCDaemonApplicationMain> self(this);
    _environment.power->takeDelayInhibitor([this, self](const std::optional<KCError> &error) {
        if (!self)
            return;
        _powerRegistering = false;
        if (error) {
            qCWarning(lcKC).noquote() << QStringLiteral("IORegisterForSystemPower failed");
            qCDebug(lcKC).noquote() << QStringLiteral("logind: %1").arg(error->failureReason());
            return;
        }
        _powerRegistered = true;
        applyPreventSleepFlag();
    });
    return false;
}

void KCDaemonApplicationMain::setPreventSleepFlag(bool preventSleep)
{
    _preventSleepFlag = preventSleep;
    // While the registration is under way, its answer applies the flag as it stands then.
    if (registerForSystemPower())
        applyPreventSleepFlag();
}

void KCDaemonApplicationMain::applyPreventSleepFlag()
{
    KCSystemPower &power = *_environment.power;
    if (!_preventSleepFlag) {
        // Also lets go of a lock still on its way.
        power.releaseIdleInhibitor();
        noteSleepPrevented(false);
        return;
    }
    if (power.holdsIdleInhibitor()) {
        noteSleepPrevented(true);
        return;
    }
    QPointer<KCDaemonApplicationMain> self(this);
    power.takeIdleInhibitor([this, self](const std::optional<KCError> &error) {
        if (!self)
            return;
        if (error) {
            qCWarning(lcKC).noquote() << QStringLiteral("Cannot keep the computer from sleeping: %1").arg(error->failureReason());
            return;
        }
        // A lock released while on its way does not count.
        if (_environment.power->holdsIdleInhibitor())
            noteSleepPrevented(true);
    });
}

void KCDaemonApplicationMain::noteSleepPrevented(bool prevented)
{
    if (prevented == _sleepPrevented)
        return;
    _sleepPrevented = prevented;
    qCInfo(lcKC).noquote() << (prevented ? QStringLiteral("Kovra Connect: cancelling sleep mode.")
                                         : QStringLiteral("Kovra Connect: allowing sleep mode."));
}

quint64 KCDaemonApplicationMain::holdPowerTransition()
{
    _powerTransitionHeld = true;
    _powerTransitionTimer->start(PowerTransitionDelayLimit);
    return ++_powerTransition;
}

void KCDaemonApplicationMain::releasePowerTransition(quint64 transition)
{
    if (!_powerTransitionHeld || transition != _powerTransition)
        return;
    forgetPowerTransition();
    _environment.power->releaseDelayInhibitor();
}

void KCDaemonApplicationMain::forgetPowerTransition()
{
    _powerTransitionHeld = false;
    _powerTransitionTimer->stop();
}

void KCDaemonApplicationMain::willSleep()
{
    _sleepStatus = 2;
    const quint64 transition = holdPowerTransition();
    sendUpdateToServer([this, transition] { releasePowerTransition(transition); });
    logServiceEvent(QStringLiteral("Will sleep..."));
}

void KCDaemonApplicationMain::didWake()
{
    // A sleep called off before the daemon let it go: the lock it still holds is the one the next
    // sleep needs, and a late answer to the sleep's update must not release it.
    forgetPowerTransition();
    _sleepStatus = 1;
    sendUpdateToServer();
    logServiceEvent(QStringLiteral("Did wake..."));
}

void KCDaemonApplicationMain::willPowerOff()
{
    qCInfo(lcKC).noquote() << QStringLiteral("Kovra Connect: System will power off.");
    const quint64 transition = holdPowerTransition();
    // Closing a mapper sends the removal of its mapping on its way.
    removeAllPortMappings();
    logServiceEvent(QStringLiteral("Will power off..."));
    releasePowerTransition(transition);
}
