#include "KCDpkgDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

bool sameFile(const QString &first, const QString &second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(first).constData(), &a) == 0 && ::stat(QFile::encodeName(second).constData(), &b) == 0
        && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

KCDpkgDatabase::KCDpkgDatabase(QString root)
    : _root(std::move(root))
{
}

QString KCDpkgDatabase::onDisk(const QString &path) const
{
    return QDir::cleanPath(_root + QLatin1Char('/') + path);
}

bool KCDpkgDatabase::ownsPath(const QString &path) const
{
    const QByteArray wanted = QFile::encodeName(QDir::cleanPath(path));
    // Only lines naming a file of the same name can lead to it.
    const QByteArray sameName = '/' + QFile::encodeName(QFileInfo(path).fileName());
    const QDir lists(onDisk(QStringLiteral("/var/lib/dpkg/info")));
    for (const QString &name : lists.entryList({QStringLiteral("*.list")}, QDir::Files)) {
        QFile list(lists.filePath(name));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = list.readAll();
        if (!content.contains(sameName))
            continue;
        for (const QByteArray &line : content.split('\n')) {
            if (!line.endsWith(sameName))
                continue;
            if (line == wanted || sameFile(onDisk(QFile::decodeName(line)), onDisk(path)))
                return true;
        }
    }
    return false;
}
