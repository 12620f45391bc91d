#include "KCLogCapture.h"

#include <QMutex>
#include <QtGlobal>

namespace {
QMutex g_mutex;
QStringList g_lines;
QtMessageHandler g_previous = nullptr;
int g_active = 0;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&g_mutex);
        g_lines.append(message);
    }
    if (type == QtFatalMsg && g_previous)
        g_previous(type, context, message);
}
} // namespace

KCLogCapture::KCLogCapture()
{
    QMutexLocker lock(&g_mutex);
    if (g_active++ == 0) {
        g_lines.clear();
        g_previous = qInstallMessageHandler(capture);
    }
}

KCLogCapture::~KCLogCapture()
{
    QMutexLocker lock(&g_mutex);
    if (--g_active == 0)
        qInstallMessageHandler(g_previous);
}

QStringList KCLogCapture::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

bool KCLogCapture::contains(const QString &text) const
{
    return count(text) > 0;
}

int KCLogCapture::count(const QString &text) const
{
    QMutexLocker lock(&g_mutex);
    int n = 0;
    for (const QString &line : std::as_const(g_lines))
        n += line.contains(text) ? 1 : 0;
    return n;
}

void KCLogCapture::clear()
{
    QMutexLocker lock(&g_mutex);
    g_lines.clear();
}
