#pragma once

#include "KCSystemPower.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>

#include <vector>

// Power management through systemd-logind (org.freedesktop.login1): the locks are inhibitors,
// held as the file descriptor Inhibit() returns, and PrepareForSleep and PrepareForShutdown are
// the events. Without logind on the bus the takes fail with the bus's error.
class KCLogindSystemPower final : public KCSystemPower {
    Q_OBJECT
public:
    explicit KCLogindSystemPower(QDBusConnection bus, QObject *parent = nullptr);
    ~KCLogindSystemPower() override;

    void takeIdleInhibitor(Completion completion) override;
    void releaseIdleInhibitor() override;
    bool holdsIdleInhibitor() const override;

    void takeDelayInhibitor(Completion completion) override;
    void releaseDelayInhibitor() override;
    bool holdsDelayInhibitor() const override;

private Q_SLOTS:
    void prepareForSleep(bool start);
    void prepareForShutdown(bool start);

private:
    struct Lock {
        QString what;
        QString mode;
        QString why;
        QDBusUnixFileDescriptor descriptor;
        bool wanted = false;
        bool taking = false;
        std::vector<Completion> waiting;
    };

    void take(Lock &lock, Completion completion);
    void taken(Lock &lock, const QDBusMessage &reply);
    void retakeDelayInhibitor();

    QDBusConnection _bus;
    Lock _idle;
    Lock _delay;
    // The delay lock is wanted from the first take on; a release for sleep lets only this one go.
    bool _delayRegistered = false;
};
