#include "KCAtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KCAtomicFile {
namespace {

const char TemporaryInfix[] = ".tmp-";

QString errnoText(const QString &what, const QString &path, int error)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, cursor, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        cursor += written;
        left -= written;
    }
    return true;
}

// The rename is only durable once the folder's entry is on disk too.
bool syncDirectory(const QString &directory, QString *error)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = errnoText(QStringLiteral("Cannot open folder"), directory, errno);
        return false;
    }
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    const int savedErrno = errno;
    ::close(fd);
    if (!ok)
        *error = errnoText(QStringLiteral("Cannot flush folder"), directory, savedErrno);
    return ok;
}

} // namespace

bool write(const QString &path, const QByteArray &data, QString *error)
{
    const QString directory = QFileInfo(path).absolutePath();
    QByteArray temporary = QFile::encodeName(path) + TemporaryInfix + "XXXXXX";
    // mkostemp creates the file 0600 and never reuses an existing name.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = errnoText(QStringLiteral("Cannot create a temporary file for"), path, errno);
        return false;
    }
    auto fail = [&](const QString &what) {
        const int savedErrno = errno;
        ::close(fd);
        ::unlink(temporary.constData());
        *error = errnoText(what, path, savedErrno);
        return false;
    };
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0)
        return fail(QStringLiteral("Cannot restrict the permissions of"));
    if (!writeAll(fd, data))
        return fail(QStringLiteral("Cannot write"));
    if (::fsync(fd) != 0)
        return fail(QStringLiteral("Cannot flush"));
    if (::close(fd) != 0) {
        const int savedErrno = errno;
        ::unlink(temporary.constData());
        *error = errnoText(QStringLiteral("Cannot close"), path, savedErrno);
        return false;
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int savedErrno = errno;
        ::unlink(temporary.constData());
        *error = errnoText(QStringLiteral("Cannot replace"), path, savedErrno);
        return false;
    }
    return syncDirectory(directory, error);
}

ReadStatus read(const QString &path, qint64 maxSize, QByteArray *data, QString *error)
{
    data->clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadStatus::Missing;
        *error = errnoText(QStringLiteral("Cannot open"), path, errno);
        return ReadStatus::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1 is not a regular file").arg(path);
        ::close(fd);
        return ReadStatus::Failed;
    }
    if (st.st_size > maxSize) {
        ::close(fd);
        return ReadStatus::TooLarge;
    }
    // The file may grow while it is read; never take more than the cap plus one byte.
    data->resize(qsizetype(maxSize) + 1);
    qsizetype total = 0;
    while (total < data->size()) {
        const ssize_t got = ::read(fd, data->data() + total, size_t(data->size() - total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *error = errnoText(QStringLiteral("Cannot read"), path, errno);
            ::close(fd);
            data->clear();
            return ReadStatus::Failed;
        }
        if (got == 0)
            break;
        total += got;
    }
    ::close(fd);
    if (total > maxSize) {
        data->clear();
        return ReadStatus::TooLarge;
    }
    data->resize(total);
    return ReadStatus::Ok;
}

bool ensurePrivateDirectory(const QString &path, QString *error)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent)) {
        *error = QStringLiteral("Cannot create folder %1").arg(parent);
        return false;
    }
    const QByteArray encoded = QFile::encodeName(path);
    if (::mkdir(encoded.constData(), S_IRWXU) != 0 && errno != EEXIST) {
        *error = errnoText(QStringLiteral("Cannot create folder"), path, errno);
        return false;
    }
    // The process's umask may have taken bits away; the folder is exactly 0700.
    if (::chmod(encoded.constData(), S_IRWXU) != 0) {
        *error = errnoText(QStringLiteral("Cannot restrict the permissions of folder"), path, errno);
        return false;
    }
    return true;
}

QString damagedName(const QString &path)
{
    return path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

QString moveAside(const QString &path, QString *error)
{
    const QString base = damagedName(path);
    const QByteArray from = QFile::encodeName(path);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString target = attempt == 0 ? base : QStringLiteral("%1-%2").arg(base).arg(attempt);
        const QByteArray to = QFile::encodeName(target);
        // A hard link never replaces an existing name, unlike rename.
        if (::link(from.constData(), to.constData()) != 0) {
            if (errno == EEXIST)
                continue;
            *error = errnoText(QStringLiteral("Cannot move aside"), path, errno);
            return {};
        }
        if (::unlink(from.constData()) != 0) {
            *error = errnoText(QStringLiteral("Cannot move aside"), path, errno);
            ::unlink(to.constData());
            return {};
        }
        QString syncError;
        syncDirectory(QFileInfo(path).absolutePath(), &syncError);
        return target;
    }
    *error = QStringLiteral("Cannot move aside %1: too many damaged copies").arg(path);
    return {};
}

void removeStaleTemporaries(const QString &path)
{
    const QFileInfo info(path);
    const QByteArray prefix = QFile::encodeName(info.fileName()) + TemporaryInfix;
    const QByteArray directory = QFile::encodeName(info.absolutePath());
    DIR *dir = ::opendir(directory.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        // mkostemp's suffix is six characters.
        if (name.startsWith(prefix) && name.size() == prefix.size() + 6)
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace KCAtomicFile
