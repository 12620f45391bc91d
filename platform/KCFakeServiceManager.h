#pragma once

#include "KCServiceManager.h"

#include <QStringList>

// Records which services were removed and answers as the test says.
class KCFakeServiceManager final : public KCServiceManager {
public:
    bool removeJob(const QString &unitName) override
    {
        removed.append(unitName);
        return succeed;
    }

    QStringList removed;
    bool succeed = false;
};
