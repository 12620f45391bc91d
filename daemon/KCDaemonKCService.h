#pragma once

#include <QString>

// What the daemon keeps for one account: the local port it maps and how the mapping stands.
class KCDaemonKCService {
public:
    quint16 localPort() const { return _localPort; }
    void setLocalPort(quint16 port) { _localPort = port; }
    QString status() const { return _status; }
    void setStatus(const QString &status) { _status = status; }
    QString username() const { return _username; }
    void setUsername(const QString &username) { _username = username; }

private:
    quint16 _localPort = 0;
    QString _status;
    QString _username;
};
