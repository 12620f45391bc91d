#pragma once

#include "KCDaemonPortMapper.h"

#include <QString>

#include <memory>
#include <utility>

// What the daemon keeps for one account: the local port it maps, the mapper that keeps it mapped
// and how the mapping stands. The record owns its mapper, so it can be moved but not copied.
class KCDaemonKCService {
public:
    KCDaemonKCService() = default;
    KCDaemonKCService(KCDaemonKCService &&) = default;
    KCDaemonKCService &operator=(KCDaemonKCService &&) = default;

    quint16 localPort() const { return _localPort; }
    void setLocalPort(quint16 port) { _localPort = port; }
    KCDaemonPortMapper *portMapper() const { return _portMapper.get(); }
    void setPortMapper(std::unique_ptr<KCDaemonPortMapper> mapper) { _portMapper = std::move(mapper); }
    std::unique_ptr<KCDaemonPortMapper> takePortMapper() { return std::move(_portMapper); }
    QString status() const { return _status; }
    void setStatus(const QString &status) { _status = status; }
    QString username() const { return _username; }
    void setUsername(const QString &username) { _username = username; }

private:
    quint16 _localPort = 0;
    std::unique_ptr<KCDaemonPortMapper> _portMapper;
    QString _status;
    QString _username;
};
