#include "KCDaemonClientTracker.h"

#include "KCLog.h"

KCDaemonClientTracker::KCDaemonClientTracker(QDBusConnection bus, int maxClients, QObject *parent)
    : QObject(parent)
    , _maxClients(maxClients)
    , _watcher(QString(), std::move(bus), QDBusServiceWatcher::WatchForUnregistration)
{
    connect(&_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &KCDaemonClientTracker::clientLeft);
}

void KCDaemonClientTracker::accept(const QString &uniqueName)
{
    if (uniqueName.isEmpty() || _clients.contains(uniqueName))
        return;
    if (_clients.size() >= _maxClients) {
        qCWarning(lcKC).noquote() << QStringLiteral("Not sending call-backs to %1: %2 clients are connected")
                                         .arg(uniqueName)
                                         .arg(_clients.size());
        return;
    }
    _clients.append(uniqueName);
    _watcher.addWatchedService(uniqueName);
    Q_EMIT currentClientChanged(uniqueName);
}

QString KCDaemonClientTracker::currentClient() const
{
    return _clients.isEmpty() ? QString() : _clients.last();
}

void KCDaemonClientTracker::clientLeft(const QString &uniqueName)
{
    const bool wasCurrent = uniqueName == currentClient();
    if (!_clients.removeOne(uniqueName))
        return;
    _watcher.removeWatchedService(uniqueName);
    if (wasCurrent)
        Q_EMIT currentClientChanged(currentClient());
}
