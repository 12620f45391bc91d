#include "KCNetdbServicesDatabase.h"

#include <arpa/inet.h>
#include <netdb.h>

std::optional<quint16> KCNetdbServicesDatabase::tcpPort(const QString &serviceName) const
{
    if (serviceName.isEmpty())
        return std::nullopt;
    const QByteArray name = serviceName.toUtf8();
    servent entry{};
    servent *found = nullptr;
    char buffer[4096];
    if (::getservbyname_r(name.constData(), "tcp", &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return std::nullopt;
    return ntohs(quint16(found->s_port));
}
