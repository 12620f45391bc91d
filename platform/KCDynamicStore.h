#pragma once

#include "KCGlobalIPv4State.h"

#include <QFlags>
#include <QObject>
#include <QString>

#include <optional>

// The three things about this machine that the daemon watches in the system configuration store.
enum class KCDynamicStoreKey {
    ComputerName = 0x1,
    HostNames = 0x2,
    GlobalIPv4 = 0x4,
};
Q_DECLARE_FLAGS(KCDynamicStoreKeys, KCDynamicStoreKey)
Q_DECLARE_OPERATORS_FOR_FLAGS(KCDynamicStoreKeys)

// What the daemon reads from the system configuration store, and the change notification.
// Reads answer from what the store last took in, so they are cheap and agree with the
// notifications already sent.
class KCDynamicStore : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The user-visible computer name, if the system has one.
    virtual std::optional<QString> computerName() const = 0;
    // The local host name without a domain (the caller adds ".local."), if set.
    virtual std::optional<QString> localHostName() const = 0;
    // The default IPv4 route, if there is one.
    virtual std::optional<KCGlobalIPv4State> globalIPv4State() const = 0;

Q_SIGNALS:
    // On the thread that owns the store, once per change, naming every key whose value now
    // differs from what was last reported. Never sent with no keys, never for an event that
    // changed nothing the store reports.
    void keysChanged(KCDynamicStoreKeys keys);
};
