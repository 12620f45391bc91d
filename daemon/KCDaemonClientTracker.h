#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QStringList>

// The daemon's connected clients: every unique bus name whose call was authorised, in the order
// they came, for as long as they stay on the bus. Call-backs go to the most recent one; when it
// leaves, the one before it (if still there) gets them again, so a short-lived command-line client
// does not take the tray application's call-backs away for good. Only so many clients are kept
// (each costs a watch on the bus); beyond that, new callers are served but get no call-backs until
// a place is free, so the clients that came first keep theirs.
class KCDaemonClientTracker : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultMaxClients = 64;

    explicit KCDaemonClientTracker(QDBusConnection bus, int maxClients = DefaultMaxClients, QObject *parent = nullptr);

    // Accepts a caller as a client; one already accepted keeps its place.
    void accept(const QString &uniqueName);
    // The client that gets the call-backs; empty when none is connected.
    QString currentClient() const;
    QStringList clients() const { return _clients; }

Q_SIGNALS:
    void currentClientChanged(const QString &uniqueName);

private:
    void clientLeft(const QString &uniqueName);

    int _maxClients;
    QDBusServiceWatcher _watcher;
    // Oldest first.
    QStringList _clients;
};
