#pragma once

#include "KCDaemonClientCallbacks.h"
#include "KCDaemonConfiguration.h"
#include "KCDaemonListener.h"
#include "KCDaemonPortMapper.h"
#include "KCDaemonSystemInformation.h"
#include "KCDefaultsStore.h"
#include "KCHTTPRequest.h"
#include "KCHardwareIdentity.h"
#include "KCKeychain.h"
#include "KCServiceManager.h"
#include "KCSystemPower.h"
#include "KCTimerSource.h"

#include <chrono>
#include <functional>
#include <memory>

// Everything outside the daemon's own code that the application object talks to. The daemon's
// main() fills it with the real system; tests fill it with fakes. Nothing here is owned: each
// must outlive the application object.
struct KCDaemonEnvironment {
    using SystemInformationMaker =
        std::function<std::unique_ptr<KCDaemonSystemInformation>(KCDaemonSystemInformationDelegate *delegate)>;

    KCDaemonConfiguration configuration;
    // The daemon's settings domain.
    KCDefaultsStore *store = nullptr;
    KCKeychain *keychain = nullptr;
    const KCHardwareIdentity *hardwareIdentity = nullptr;
    KCTimerSource *timerSource = nullptr;
    KCServiceManager *serviceManager = nullptr;
    // Makes one mapper per account.
    KCDaemonPortMapperFactory *portMapperFactory = nullptr;
    // The connected client; it drops what arrives while no client is connected.
    KCDaemonClientCallbacks *client = nullptr;
    // Where clients reach the daemon: it serves its operations there at the end of start-up.
    KCDaemonListener *listener = nullptr;
    // Keeping the machine awake while the user asks for it; sleep, wake and power-off.
    KCSystemPower *power = nullptr;
    // Makes the system information the daemon reads and watches, with the daemon as its delegate.
    SystemInformationMaker createSystemInformation;
    // How long a request to the account service may go without any progress before it fails.
    std::chrono::milliseconds accountServiceTransferTimeout{KCHTTPDefaultTransferTimeoutMilliseconds};
    // The folder the previous generation's files, the daemon's own installed files, the package
    // manager's file lists and the operating system's release file are looked for under: "/" on
    // a real system.
    QString fileSystemRoot = QStringLiteral("/");
};
