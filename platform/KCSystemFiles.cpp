#include "KCSystemFiles.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace KCSystemFiles {

Contents read(const QString &path, qsizetype maxBytes)
{
    Contents contents;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        contents.error = errno;
        return contents;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            contents.error = errno;
            break;
        }
        if (n == 0)
            break;
        if (contents.data.size() + n > maxBytes) {
            contents.error = EFBIG;
            break;
        }
        contents.data.append(buffer, n);
    }
    ::close(fd);
    if (contents.error != 0)
        contents.data.clear();
    return contents;
}

QString firstLine(const QString &path)
{
    const Contents contents = read(path, 4096);
    if (!contents.ok())
        return {};
    const qsizetype end = contents.data.indexOf('\n');
    return QString::fromUtf8(end < 0 ? contents.data : contents.data.left(end)).trimmed();
}

Listing list(const QString &folder)
{
    Listing listing;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        listing.error = errno;
        return listing;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            listing.names.append(name);
    }
    ::closedir(dir);
    std::sort(listing.names.begin(), listing.names.end());
    return listing;
}

QString under(const QString &root, const QString &absolutePath)
{
    if (root.isEmpty() || root == QLatin1String("/"))
        return absolutePath;
    QString base = root;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + absolutePath;
}

} // namespace KCSystemFiles
