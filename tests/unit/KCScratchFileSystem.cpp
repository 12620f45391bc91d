#include "KCScratchFileSystem.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString lastError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

KCScratchFileSystem::KCScratchFileSystem(const QString &path, qint64 sizeBytes)
    : m_path(path)
    , m_size(sizeBytes)
{
    if (::unshare(CLONE_NEWNS) != 0) {
        m_error = lastError("unshare");
        return;
    }
    // Without this the mount would propagate back to the machine's own namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        m_error = lastError("make mounts private");
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(m_size) + ",mode=0700";
    if (::mount("kc-scratch", QFile::encodeName(m_path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        m_error = lastError("mount tmpfs");
        return;
    }
    m_mounted = true;
}

KCScratchFileSystem::~KCScratchFileSystem()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
}

bool KCScratchFileSystem::setReadOnly(bool readOnly)
{
    const QByteArray options = "size=" + QByteArray::number(m_size);
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    if (::mount("kc-scratch", QFile::encodeName(m_path).constData(), "tmpfs", flags, options.constData()) != 0) {
        m_error = lastError("remount");
        return false;
    }
    return true;
}

KCFaultyFolder::KCFaultyFolder(const QString &path, qint64 sizeBytes)
    : m_path(path)
{
    if (::geteuid() == 0)
        m_scratch = std::make_unique<KCScratchFileSystem>(path, sizeBytes);
}

bool KCFaultyFolder::setReadOnly(bool readOnly)
{
    if (m_scratch)
        return m_scratch->setReadOnly(readOnly);
    return ::chmod(QFile::encodeName(m_path).constData(), readOnly ? 0500 : 0700) == 0;
}
