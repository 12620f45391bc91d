#include "KCSystemInformationSources.h"

#include "KCDmCryptDiskEncryption.h"
#include "KCGetifaddrsInterfaceList.h"
#include "KCLinuxSshdSettings.h"
#include "KCNetdbServicesDatabase.h"
#include "KCProcessCommandRunner.h"
#include "KCRtnetlinkRoutingTables.h"
#include "KCSysfsNetworkDevices.h"
#include "KCSysfsPowerSupplies.h"

#include <QSysInfo>

#include <unistd.h>

namespace {

class KernelMachineName final : public KCMachineName {
public:
    QString hostName() const override
    {
        const QString name = QSysInfo::machineHostName();
        return name == QLatin1String("(none)") ? QString() : name;
    }
};

} // namespace

const KCSystemInformationSources &KCSystemInformationSources::system()
{
    static const KCGetifaddrsInterfaceList interfaces;
    static const KCRtnetlinkRoutingTables routing;
    static const KCSysfsNetworkDevices networkDevices;
    static const KCNetdbServicesDatabase services;
    static const KCProcessCommandRunner commands;
    // Only root may read the host keys that "sshd -T" insists on loading.
    static const KCLinuxSshdSettings sshd(QStringLiteral("/"), commands, ::geteuid() == 0);
    static const KCDmCryptDiskEncryption diskEncryption;
    static const KCSysfsPowerSupplies powerSupplies;
    static const KernelMachineName machineName;
    static const KCSystemInformationSources sources{&interfaces, &routing,        &networkDevices, &services,
                                                    &sshd,       &diskEncryption, &powerSupplies,  &machineName};
    return sources;
}
