#include "KCChildProcess.h"

#include <QtTest/QTest>

#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>

std::optional<KCTestUser> KCTestUser::named(const QString &name)
{
    const struct passwd *entry = ::getpwnam(name.toLocal8Bit().constData());
    if (!entry)
        return std::nullopt;
    return KCTestUser{entry->pw_uid, entry->pw_gid, name};
}

KCChildProcess::KCChildProcess()
{
    // A test that crashes must not leave buses and fakes behind. setpriv clears the parent-death
    // signal when it changes ids, so it is asked to set it again after the change.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readOutput(); });
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_standardError += m_process.readAllStandardError(); });
}

KCChildProcess::~KCChildProcess()
{
    kill();
}

bool KCChildProcess::start(const QString &program, const QStringList &arguments,
                           const QProcessEnvironment &environment, const std::optional<KCTestUser> &user)
{
    m_process.setProcessEnvironment(environment);
    if (user) {
        QStringList wrapped{QStringLiteral("--reuid=%1").arg(user->uid), QStringLiteral("--regid=%1").arg(user->gid),
                            QStringLiteral("--clear-groups"), QStringLiteral("--pdeathsig=KILL"),
                            QStringLiteral("--"), program};
        wrapped += arguments;
        m_process.start(QStringLiteral("setpriv"), wrapped);
    } else {
        m_process.start(program, arguments);
    }
    return m_process.waitForStarted(30000);
}

void KCChildProcess::readOutput()
{
    m_partialLine += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partialLine.left(end)));
        m_partialLine.remove(0, end + 1);
    }
}

std::optional<QString> KCChildProcess::waitForLine(const QString &text, std::chrono::milliseconds deadline)
{
    std::optional<QString> found;
    const auto scan = [&] {
        while (m_nextUnreturnedLine < m_lines.size()) {
            const QString &line = m_lines.at(m_nextUnreturnedLine++);
            if (line.contains(text)) {
                found = line;
                return true;
            }
        }
        return false;
    };
    (void)QTest::qWaitFor([&] { return scan() || m_process.state() == QProcess::NotRunning; },
                    static_cast<int>(deadline.count()));
    if (!found) {
        // The program may have printed its last lines just before it exited.
        readOutput();
        scan();
    }
    return found;
}

QStringList KCChildProcess::lines() const
{
    return m_lines;
}

QString KCChildProcess::standardError() const
{
    return QString::fromUtf8(m_standardError);
}

bool KCChildProcess::waitForExit(std::chrono::milliseconds deadline)
{
    return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; },
                           static_cast<int>(deadline.count()));
}

void KCChildProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(30000);
}

bool KCChildProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

int KCChildProcess::exitCode() const
{
    return m_process.exitCode();
}

qint64 KCChildProcess::processId() const
{
    return m_process.processId();
}
