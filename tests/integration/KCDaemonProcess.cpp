#include "KCDaemonProcess.h"

#include "KCBuildInfo.h"
#include "KCTestUtils.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

#include <csignal>

namespace {

// The folders the daemon deletes files in, or their nearest ancestors that exist.
QStringList foldersToHide()
{
    QStringList folders;
    for (QString folder : {KCInstalledLibexecDirectory, KCInstalledUnitDirectory}) {
        while (!QFileInfo(folder).isDir())
            folder = QFileInfo(folder).absolutePath();
        if (folder != QStringLiteral("/") && !folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

} // namespace

KCDaemonProcess::KCDaemonProcess(const QStringList &arguments, const QString &scratchDirectory,
                                 const KCTestNetworkNamespace *sharedNamespace, const QString &systemBusAddress)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Without the test's bus, an address where no bus listens: the machine's own bus is never
    // touched.
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       systemBusAddress.isEmpty()
                           ? QStringLiteral("unix:path=") + QDir(scratchDirectory).filePath(QStringLiteral("no-system-bus"))
                           : systemBusAddress);
    environment.remove(QStringLiteral("JOURNAL_STREAM"));
    m_process.setProcessEnvironment(environment);

    if (KCTest::isRoot()) {
        if (!sharedNamespace) {
            m_namespace = std::make_unique<KCTestNetworkNamespace>();
            sharedNamespace = m_namespace.get();
        }
        if (!sharedNamespace->isReady()) {
            m_error = sharedNamespace->error();
            return;
        }
        // A mount namespace of the daemon's own puts an empty memory file system over each of
        // the folders. ip, unshare and the shell each exec the next, so the process the test
        // signals is the daemon itself.
        const QString mountAndRun = QStringLiteral(
            "while [ \"$1\" != -- ]; do mount -t tmpfs -o mode=0755 kc-test \"$1\" || exit 125; shift; done; shift; exec \"$@\"");
        m_process.start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), sharedNamespace->name(),
                                                          QStringLiteral("unshare"), QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                                          QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"), mountAndRun,
                                                          QStringLiteral("sh")}
                                                  + foldersToHide() + QStringList{QStringLiteral("--"), KCTest::daemonExecutable()} + arguments);
    } else {
        m_process.start(KCTest::daemonExecutable(), arguments);
    }
    m_started = m_process.waitForStarted(30000);
    if (!m_started)
        m_error = m_process.errorString();
}

KCDaemonProcess::~KCDaemonProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(30000);
    }
}

void KCDaemonProcess::collect()
{
    m_stdout += QString::fromLocal8Bit(m_process.readAllStandardOutput());
    m_stderr += QString::fromLocal8Bit(m_process.readAllStandardError());
}

bool KCDaemonProcess::waitForStandardError(const QString &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    collect();
    while (!m_stderr.contains(text) && m_process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        m_process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
        collect();
    }
    collect();
    return m_stderr.contains(text);
}

bool KCDaemonProcess::waitForExit(int timeoutMs)
{
    const bool finished = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    collect();
    return finished;
}

void KCDaemonProcess::sendSignal(int signal)
{
    ::kill(pid_t(m_process.processId()), signal);
}

QString KCDaemonProcess::standardOutput()
{
    collect();
    return m_stdout;
}

QString KCDaemonProcess::standardError()
{
    collect();
    return m_stderr;
}
