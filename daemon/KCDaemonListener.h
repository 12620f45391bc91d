#pragma once

#include <QString>

class KCDaemonHelperToolOperations;

// Where the daemon's clients reach it. The daemon serves its operations there once its state is
// built, and names the place in its log.
class KCDaemonListener {
public:
    virtual ~KCDaemonListener() = default;

    // Starts serving the operations, which must outlive the listener; false, with the reason,
    // when clients cannot reach them (no bus, or another process holds the daemon's name).
    virtual bool listen(KCDaemonHelperToolOperations &operations, QString *error) = 0;
    // What clients reach, for the log.
    virtual QString description() const = 0;
};
