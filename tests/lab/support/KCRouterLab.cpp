#include "KCRouterLab.h"

#include <QProcess>
#include <cstdio>

namespace {

// Lab commands finish in well under a second; this only stops a test that a broken lab
// would otherwise hang.
constexpr int kLabCommandDeadlineMs = 60000;

} // namespace

KCRouterLab::KCRouterLab(QProcessEnvironment environment)
    : _environment(std::move(environment))
{
}

std::optional<KCRouterLab> KCRouterLab::current()
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.value(QStringLiteral("KC_LAB_NAME")).isEmpty()
        || environment.value(QStringLiteral("KC_LAB_SCRIPT")).isEmpty())
        return std::nullopt;
    return KCRouterLab(environment);
}

QString KCRouterLab::value(const char *key) const
{
    return _environment.value(QLatin1String(key));
}

bool KCRouterLab::run(const QStringList &arguments, QByteArray *output) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(value("KC_LAB_SCRIPT"), arguments);
    if (!process.waitForFinished(kLabCommandDeadlineMs)) {
        std::fprintf(stderr, "router lab: %s %s did not finish\n", qPrintable(value("KC_LAB_SCRIPT")),
                     qPrintable(arguments.join(QLatin1Char(' '))));
        process.kill();
        process.waitForFinished();
        return false;
    }
    const QByteArray standardOutput = process.readAllStandardOutput();
    if (output)
        *output = standardOutput;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::optional<QStringList> KCRouterLab::mappings() const
{
    QByteArray table;
    if (!run({QStringLiteral("mappings"), name()}, &table))
        return std::nullopt;
    return QString::fromUtf8(table).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString KCRouterLab::routerLog() const
{
    QByteArray log;
    run({QStringLiteral("log"), name()}, &log);
    return QString::fromUtf8(log);
}
