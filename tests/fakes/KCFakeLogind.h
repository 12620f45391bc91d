#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

// logind's manager as far as sleep and shutdown go. Inhibit() hands out one end of a pipe and keeps
// the other, so it sees the lock released when the holder closes its end. Events on standard
// output:
//   inhibit WHAT MODE WHO      released WHAT MODE WHO
// The test interface com.fendrel.kovra.connect.test.FakeLogind at /org/freedesktop/login1:
//   Inhibitors() -> av of a{sv}        what, who, why, mode, uid, open
//   Suspend() -> a{sv}                 PrepareForSleep(true), then waits for the sleep delay locks
//   PowerOff() -> a{sv}                PrepareForShutdown(true), then waits for the shutdown delay locks
//       both answer once the system would go on: delayLocks (how many were held when announced),
//       released (all were released before the wait ran out)
//   Resume()                           PrepareForSleep(false)
//   SetInhibitDelayMax(u ms)           how long delay locks may hold the system up (default 5 s)
class KCFakeLogind final : public QDBusVirtualObject {
    Q_OBJECT
public:
    explicit KCFakeLogind(QDBusConnection bus);
    ~KCFakeLogind() override;

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    struct Inhibitor {
        QString what;
        QString who;
        QString why;
        QString mode;
        qint64 uid = -1;
        int readEnd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
        bool open() const { return readEnd >= 0; }
    };
    struct Transition {
        QDBusMessage call;
        QString what;
        int delayLocks = 0;
        std::unique_ptr<QTimer> deadline;
    };

    void inhibit(const QDBusMessage &message);
    void lockClosed(Inhibitor &inhibitor);
    void announce(const QDBusMessage &call, const QString &signal, const QString &what);
    int openDelayLocks(const QString &what) const;
    void proceedIfReleased();
    void proceed(bool released);

    QDBusConnection _bus;
    std::vector<std::unique_ptr<Inhibitor>> _inhibitors;
    std::unique_ptr<Transition> _transition;
    int _inhibitDelayMaxMs = 5000;
};
