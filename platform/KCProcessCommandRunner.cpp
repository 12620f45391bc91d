#include "KCProcessCommandRunner.h"

#include <QProcess>

namespace {

// The commands we run print a page at most.
constexpr qsizetype maxOutput = 1 << 20;

} // namespace

KCCommandRunner::Result KCProcessCommandRunner::run(const QString &program, const QStringList &arguments,
                                                    std::chrono::milliseconds timeout) const
{
    Result result;
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(int(timeout.count())))
        return result;
    result.started = true;
    const bool exited = process.waitForFinished(int(timeout.count()));
    if (!exited) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.standardOutput = process.readAllStandardOutput().left(maxOutput);
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    return result;
}
