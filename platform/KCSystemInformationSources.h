#pragma once

#include "KCDiskEncryption.h"
#include "KCInterfaceList.h"
#include "KCMachineName.h"
#include "KCNetworkDevices.h"
#include "KCPowerSupplies.h"
#include "KCRoutingTables.h"
#include "KCServicesDatabase.h"
#include "KCSshdSettings.h"

// Everything the system information asks the operating system, one small interface each. The
// pointers are not owned and must outlive every use.
struct KCSystemInformationSources {
    const KCInterfaceList *interfaces = nullptr;
    const KCRoutingTables *routing = nullptr;
    const KCNetworkDevices *networkDevices = nullptr;
    const KCServicesDatabase *services = nullptr;
    const KCSshdSettings *sshd = nullptr;
    const KCDiskEncryption *diskEncryption = nullptr;
    const KCPowerSupplies *powerSupplies = nullptr;
    const KCMachineName *machineName = nullptr;

    // This machine's sources: getifaddrs, routing netlink, sysfs, the services database, the
    // secure-shell server's configuration, dm-crypt and the power supplies. They keep no state,
    // so any thread may use them.
    static const KCSystemInformationSources &system();
};
