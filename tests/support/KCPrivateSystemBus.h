#pragma once

#include "KCChildProcess.h"

#include <QDBusConnection>
#include <gtest/gtest.h>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <unistd.h>

// A dbus-daemon of the test's own that stands in for the system bus: a system-like policy that
// includes the policy files the test names, on a socket in a temporary folder. While it runs, this
// process and the programs it starts see it as their system bus (DBUS_SYSTEM_BUS_ADDRESS).
// Root, the user running the test and the users of testUsers() may connect.
class KCPrivateSystemBus {
public:
    explicit KCPrivateSystemBus(QStringList policyFiles = {daemonPolicy()});
    ~KCPrivateSystemBus();
    KCPrivateSystemBus(const KCPrivateSystemBus &) = delete;
    KCPrivateSystemBus &operator=(const KCPrivateSystemBus &) = delete;

    // Starts the bus and waits until it printed its address. False, with the reason in
    // error(), when it did not come up.
    bool start();
    QString error() const { return m_error; }
    QString address() const { return m_address; }
    // The test process's environment with this bus as the system bus.
    QProcessEnvironment environment() const;

    // A new connection of this process to the bus; closed when the fixture goes away.
    QDBusConnection connect();

    // Starts a program with this bus as its system bus, as another user when one is given.
    std::unique_ptr<KCChildProcess> startProgram(const QString &program, const QStringList &arguments = {},
                                                 const std::optional<KCTestUser> &user = std::nullopt);
    // Starts one of the test's fake bus peers (tests/fakes) and waits until it owns its name;
    // nullptr when it did not come up.
    std::unique_ptr<KCChildProcess> startFake(const QString &name, const QStringList &arguments = {},
                                              const std::optional<KCTestUser> &user = std::nullopt);
    std::unique_ptr<KCChildProcess> startFakePolkit() { return startFake(QStringLiteral("kc_fake_polkit")); }
    std::unique_ptr<KCChildProcess> startFakeLogind() { return startFake(QStringLiteral("kc_fake_logind")); }

    // The D-Bus policy the daemon ships with, as the build made it.
    static QString daemonPolicy();
    static QString fakeProgram(const QString &name);
    // Other users the bus lets in, so tests can show what the policy and the daemon refuse them:
    // nobody and daemon, both present on every Debian system.
    static std::optional<KCTestUser> testUser();
    static std::optional<KCTestUser> secondTestUser();

private:
    bool writeConfiguration(QString *configFile);

    QStringList m_policyFiles;
    QTemporaryDir m_folder;
    KCChildProcess m_daemon;
    QString m_address;
    QString m_error;
    QStringList m_connectionNames;
    std::optional<QByteArray> m_previousAddress;
};

// Skips the current test unless it runs as root: only root may own the daemon's name and start
// callers under other user ids.
#define KC_REQUIRE_ROOT_FOR_BUS()                                                                                      \
    do {                                                                                                               \
        if (::geteuid() != 0)                                                                                          \
            GTEST_SKIP() << "needs root to own the daemon's bus name and run callers as other users; run the tests "   \
                            "as root to include it";                                                                   \
    } while (0)
