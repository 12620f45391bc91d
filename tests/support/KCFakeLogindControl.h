#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QVariantList>

// Drives the fake logind (tests/fakes) through its test interface.
class KCFakeLogindControl {
public:
    explicit KCFakeLogindControl(QDBusConnection bus);

    // Every inhibitor taken so far, as dictionaries: what, who, why, mode, uid, open.
    QVariantList inhibitors();
    // Announce sleep or power-off; each answers, with delayLocks and released, once the system
    // would go on, so the test keeps its event loop running until then.
    QDBusPendingCall suspend();
    QDBusPendingCall powerOff();
    // Runs the event loop until the call answered, and returns the answer (empty on an error,
    // which fails the test).
    static QVariantMap answerOf(QDBusPendingCall call);
    bool resume();
    bool setInhibitDelayMax(uint milliseconds);

private:
    QDBusConnection _bus;
};
