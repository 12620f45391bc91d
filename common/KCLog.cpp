#include "KCLog.h"

#include <QByteArray>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcKC, "kovra", QtDebugMsg)

namespace KCLog {
namespace {

bool g_journal = false;

int journalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QByteArray text = message.toUtf8();
    // One write per line keeps lines from two threads from interleaving.
    QByteArray line;
    line.reserve(text.size() + 5);
    if (g_journal) {
        line += '<';
        line += char('0' + journalPriority(type));
        line += '>';
    }
    line += text;
    line += '\n';
    ssize_t unused = ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
    (void)unused;
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

bool stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    if (stream.isEmpty())
        return false;
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0)
        return false;
    const QByteArray expected = QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
    return stream == expected;
}

void installSystemLogHandler()
{
    g_journal = stderrIsJournal();
    qInstallMessageHandler(handler);
}

} // namespace KCLog
