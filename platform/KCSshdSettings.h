#pragma once

#include <QString>

#include <optional>

// Where the secure-shell server listens, as its configuration says.
class KCSshdSettings {
public:
    virtual ~KCSshdSettings() = default;
    // The first listener the configuration names: a port number, a service name, or, for a
    // listener that is not a TCP port (a Unix socket), its text as written. None when no
    // configuration names one.
    virtual std::optional<QString> listenerValue() const = 0;
};
