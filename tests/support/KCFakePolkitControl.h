#pragma once

#include <QDBusConnection>
#include <QVariantList>

// Drives the fake polkit authority (tests/fakes) through its test interface.
class KCFakePolkitControl {
public:
    explicit KCFakePolkitControl(QDBusConnection bus);

    // How checks of that action (empty: any) by callers of that uid (-1: any) are answered:
    // "allow", "deny", "challenge", "error" or "never", after delayMs.
    bool setAnswer(const QString &action, qint64 uid, const QString &verdict, uint delayMs = 0);
    // Every check asked so far, as dictionaries: action, busName, uid, interactive, cancelled.
    QVariantList requests();

private:
    QDBusConnection _bus;
};
