#include "KCTestNetworkNamespace.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <unistd.h>

namespace {

const QString Prefix = QStringLiteral("kcd-test-");

bool run(const QStringList &arguments, QString *error)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), arguments);
    if (!ip.waitForFinished(30000) || ip.exitStatus() != QProcess::NormalExit || ip.exitCode() != 0) {
        *error = QStringLiteral("ip %1: %2").arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(ip.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

// Names are "kcd-test-<pid>-<n>"; a namespace whose process is gone was left by a killed test.
void removeAbandoned()
{
    static const QRegularExpression pattern(QStringLiteral("^kcd-test-(\\d+)-\\d+$"));
    for (const QString &name : QDir(QStringLiteral("/run/netns")).entryList(QDir::Files | QDir::System)) {
        const auto match = pattern.match(name);
        if (match.hasMatch() && !QFileInfo::exists(QStringLiteral("/proc/") + match.captured(1))) {
            QString ignored;
            run({QStringLiteral("netns"), QStringLiteral("delete"), name}, &ignored);
        }
    }
}

} // namespace

KCTestNetworkNamespace::KCTestNetworkNamespace()
{
    static int counter = 0;
    removeAbandoned();
    m_name = Prefix + QString::number(::getpid()) + QLatin1Char('-') + QString::number(++counter);
    if (!run({QStringLiteral("netns"), QStringLiteral("add"), m_name}, &m_error))
        return;
    m_ready = run({QStringLiteral("-n"), m_name, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}, &m_error);
}

KCTestNetworkNamespace::~KCTestNetworkNamespace()
{
    QString ignored;
    run({QStringLiteral("netns"), QStringLiteral("delete"), m_name}, &ignored);
}
