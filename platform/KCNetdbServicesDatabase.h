#pragma once

#include "KCServicesDatabase.h"

// The services database through getservbyname_r().
class KCNetdbServicesDatabase final : public KCServicesDatabase {
public:
    std::optional<quint16> tcpPort(const QString &serviceName) const override;
};
