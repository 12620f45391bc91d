#pragma once

#include "KCChildProcess.h"
#include "KCDaemonProcess.h"
#include "KCPrivateSystemBus.h"
#include "KCServiceInNamespace.h"
#include "KCTestNetworkNamespace.h"

#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <memory>
#include <utility>

// The real daemon executable with what it talks to: a private system bus (with the D-Bus policy
// we ship) with the fake polkit and the fake logind on it when asked for, and the fake account
// service in the daemon's own network namespace. The test process sees the private bus as its
// system bus, so clients in it reach the daemon as they would on a real system. Needs root.
class KCDaemonOnPrivateBus {
public:
    struct Options {
        bool polkit = true;
        bool logind = true;
        // Accounts (name, password) stored before the daemon starts.
        QList<std::pair<QString, QString>> accounts = {};
        // The fake service's script (KCFakeAccountService::loadScript), as JSON; none when empty.
        QByteArray serviceScript = {};
    };

    KCDaemonOnPrivateBus();
    ~KCDaemonOnPrivateBus();

    // Starts everything and waits until the daemon listens. False, with the reason.
    bool start(const Options &options, QString *error);
    // Stops the daemon as the service manager does (SIGTERM) and starts a new one on the same
    // state, bus and service; waits until it listens.
    bool restartDaemon(QString *error);

    KCDaemonProcess &daemon() { return *m_daemon; }
    KCServiceInNamespace &service() { return *m_service; }
    KCChildProcess *logind() { return m_logind.get(); }
    QString stateDirectory() const;

    KCPrivateSystemBus bus;
    // A connection of the test's own, for driving the fakes.
    QDBusConnection control{QString()};

private:
    bool startDaemon(QString *error);

    QTemporaryDir m_scratch;
    KCTestNetworkNamespace m_namespace;
    std::unique_ptr<KCChildProcess> m_polkit;
    std::unique_ptr<KCChildProcess> m_logind;
    std::unique_ptr<KCServiceInNamespace> m_service;
    std::unique_ptr<KCDaemonProcess> m_daemon;
    QString m_config;
};
