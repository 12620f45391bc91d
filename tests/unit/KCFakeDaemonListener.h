#pragma once

#include "KCDaemonListener.h"

// A place clients would reach the daemon, for tests: it keeps the operations it serves, or
// refuses to listen with the test's reason.
class KCFakeDaemonListener final : public KCDaemonListener {
public:
    bool listen(KCDaemonHelperToolOperations &served, QString *error) override
    {
        if (!refusal.isEmpty()) {
            *error = refusal;
            return false;
        }
        operations = &served;
        return true;
    }
    QString description() const override { return QStringLiteral("the test's listener"); }

    // When not empty, listen() fails with it.
    QString refusal;
    KCDaemonHelperToolOperations *operations = nullptr;
};
