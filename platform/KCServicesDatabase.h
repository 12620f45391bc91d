#pragma once

#include <QString>

#include <optional>

// The system's services database (/etc/services and whatever NSS adds). Safe from any thread.
class KCServicesDatabase {
public:
    virtual ~KCServicesDatabase() = default;
    // The TCP port of the named service, in host byte order; none without an entry.
    virtual std::optional<quint16> tcpPort(const QString &serviceName) const = 0;
};
