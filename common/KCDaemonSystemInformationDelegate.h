#pragma once

#include <QString>

// Told by KCDaemonSystemInformation, on the main thread, when the machine's names or its global
// IPv4 configuration change.
class KCDaemonSystemInformationDelegate {
public:
    virtual ~KCDaemonSystemInformationDelegate() = default;
    virtual void computerNameChanged(const QString &computerName) = 0;
    virtual void computerLocalHostnameChanged(const QString &localHostname) = 0;
    virtual void networkConfigurationChanged() = 0;
};
