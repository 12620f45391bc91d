#pragma once

#include "KCHostnamed.h"

// A host-name service whose pretty name a test sets; none means the service is not there.
class KCFakeHostnamed final : public KCHostnamed {
    Q_OBJECT
public:
    using KCHostnamed::KCHostnamed;

    std::optional<QString> prettyHostname() override
    {
        ++reads;
        return pretty;
    }
    // Sets the name and announces it, as the service does.
    void announce(const std::optional<QString> &name)
    {
        pretty = name;
        Q_EMIT prettyHostnameChanged();
    }

    std::optional<QString> pretty;
    int reads = 0;
};
