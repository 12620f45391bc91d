#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

// The router lab a test runs in. run-in-lab starts the test inside the lab's LAN client and
// describes the lab in the environment (KC_LAB_*); this reads that description and drives the
// lab's router through the lab script.
class KCRouterLab {
public:
    // The lab this process runs in, or nothing when it was not started by run-in-lab.
    static std::optional<KCRouterLab> current();

    QString name() const { return value("KC_LAB_NAME"); }
    QString profile() const { return value("KC_LAB_PROFILE"); }
    // Any of the lab's variables, e.g. "KC_LAB_IGD_URL"; empty when the lab does not set it.
    QString value(const char *key) const;
    QHostAddress routerAddress() const { return QHostAddress(value("KC_LAB_ROUTER_IP")); }
    QHostAddress clientAddress() const { return QHostAddress(value("KC_LAB_CLIENT_IP")); }
    // What the router reports as its public address.
    QHostAddress externalAddress() const { return QHostAddress(value("KC_LAB_EXT_IP")); }
    QString clientInterface() const { return value("KC_LAB_CLIENT_IF"); }

    // The router forgets its mappings and starts again with a new epoch. Each returns once the
    // router's service answers again (or is gone, for stopRouter); false when the lab failed.
    bool restartRouter() const { return run({QStringLiteral("restart-router"), name()}); }
    bool stopRouter() const { return run({QStringLiteral("stop-router"), name()}); }
    bool startRouter() const { return run({QStringLiteral("start-router"), name()}); }

    // The router's own table, one mapping a line, sorted by protocol and external port:
    // "TCP 5900 192.168.77.10:5900 Kovra Connect". Nothing when the lab command fails.
    std::optional<QStringList> mappings() const;
    // What the router's service (miniupnpd or the fake gateway) logged so far.
    QString routerLog() const;

    // Runs the lab script with these arguments; its output goes to *output when given, its
    // errors to this process's standard error.
    bool run(const QStringList &arguments, QByteArray *output = nullptr) const;

private:
    explicit KCRouterLab(QProcessEnvironment environment);

    QProcessEnvironment _environment;
};

// Skips the current test unless it runs inside a router lab.
#define KC_REQUIRE_LAB(lab)                                                                                            \
    const std::optional<KCRouterLab> lab = KCRouterLab::current();                                                     \
    if (!lab)                                                                                                          \
    GTEST_SKIP() << "runs only inside the router lab: tests/lab/run-in-lab PROFILE -- TEST"
