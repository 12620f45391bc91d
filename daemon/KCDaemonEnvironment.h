#pragma once

#include "KCDaemonConfiguration.h"
#include "KCDefaultsStore.h"
#include "KCHardwareIdentity.h"
#include "KCKeychain.h"
#include "KCServiceManager.h"
#include "KCTimerSource.h"

// Everything outside the daemon's own code that the application object talks to. The daemon's
// main() fills it with the real system; tests fill it with fakes. Nothing here is owned: each
// must outlive the application object.
struct KCDaemonEnvironment {
    KCDaemonConfiguration configuration;
    // The daemon's settings domain.
    KCDefaultsStore *store = nullptr;
    KCKeychain *keychain = nullptr;
    const KCHardwareIdentity *hardwareIdentity = nullptr;
    KCTimerSource *timerSource = nullptr;
    KCServiceManager *serviceManager = nullptr;
    // The folder the previous generation's files are looked for under: "/" on a real system.
    QString fileSystemRoot = QStringLiteral("/");
};
