#pragma once

#include "KCDaemonApplicationMain.h"
#include "KCFakeClientCallbacks.h"
#include "KCFakeDaemonListener.h"
#include "KCFakeDynamicStore.h"
#include "KCFakeHardwareIdentity.h"
#include "KCFakeKeychain.h"
#include "KCFakePortMapper.h"
#include "KCFakeServiceManager.h"
#include "KCFakeSystemInformationSources.h"
#include "KCFakeSystemPower.h"
#include "KCFakeTimerSource.h"
#include "KCMemoryDefaultsStore.h"

#include <QTemporaryDir>

#include <memory>

// Everything a daemon under test talks to, faked, describing by default a machine on a home
// network: eth0 at 192.168.1.23 with hardware address 00:1A:2B:3C:4D:5E, behind the router
// 192.168.1.1, named "Office Mac" / "office". The operating system reads as Debian 12.
class KCDaemonTestBed {
public:
    KCDaemonTestBed();

    KCDaemonEnvironment environment();
    std::unique_ptr<KCDaemonApplicationMain> start() { return std::make_unique<KCDaemonApplicationMain>(environment()); }

    void addAccount(const QString &account, const QString &password);
    // The account's mapper in the daemon, or null.
    static KCFakePortMapper *mapperFor(KCDaemonApplicationMain &daemon, const QString &account);
    // Moves the machine to another router, as the store would after a route change, and tells
    // the daemon's system information.
    void moveToRouter(const QString &router, const QString &localAddress, const QString &interfaceName = QStringLiteral("eth0"));
    // Lets queued calls run (mappers dropped during a result are destroyed then).
    static void processQueuedCalls();

    KCMemoryDefaultsStore store;
    KCFakeKeychain keychain;
    KCFakeHardwareIdentity hardware{QStringLiteral("4c4c4544-0042-3510-8052-b4c04f4e4d32")};
    KCFakeTimerSource timers;
    KCFakeServiceManager serviceManager;
    KCFakePortMapperFactory mappers;
    KCFakeClientCallbacks client;
    KCFakeDaemonListener listener;
    KCFakeSystemPower power;
    KCFakeSystemInformationSources sources;
    QTemporaryDir root;
    // What a daemon started from now on finds in its system configuration store.
    std::optional<QString> computerName = QStringLiteral("Office Mac");
    std::optional<QString> localHostName = QStringLiteral("office");
    std::optional<KCGlobalIPv4State> globalIPv4 = KCGlobalIPv4State{QStringLiteral("192.168.1.1"), QStringLiteral("eth0"), 2};
    // How long a request to the account service may stall.
    std::chrono::milliseconds transferTimeout{KCHTTPDefaultTransferTimeoutMilliseconds};
    // The store of the daemon started last.
    KCFakeDynamicStore *dynamicStore = nullptr;
};
