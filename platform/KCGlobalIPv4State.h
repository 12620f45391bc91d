#pragma once

#include <QString>

// The machine's global IPv4 configuration: the default route of the main routing table.
struct KCGlobalIPv4State {
    // Dotted IPv4 address of the route's gateway; empty for a default route without one (a
    // point-to-point link).
    QString router;
    // Name of the interface the route leaves through.
    QString primaryInterface;
    // Kernel index of that interface, for code that binds or sends through it.
    int interfaceIndex = 0;

    friend bool operator==(const KCGlobalIPv4State &, const KCGlobalIPv4State &) = default;
};
