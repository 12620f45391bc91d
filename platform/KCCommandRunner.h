#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

// Runs a system command and waits for it. Safe from any thread; blocks the caller.
class KCCommandRunner {
public:
    virtual ~KCCommandRunner() = default;

    struct Result {
        bool started = false;
        bool finished = false; // false when the time ran out or the command crashed
        int exitCode = -1;
        QByteArray standardOutput;
    };
    virtual Result run(const QString &program, const QStringList &arguments, std::chrono::milliseconds timeout) const = 0;
};
