#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reading the small files of /proc, /sys and /etc. Everything that reads them takes a root folder
// ("/" on a running system) so tests can lay out a tree of their own.
namespace KCSystemFiles {

struct Contents {
    int error = 0; // errno when the file could not be read in full
    QByteArray data;
    bool ok() const { return error == 0; }
};

// Reads the whole file; procfs and sysfs files report no size, so this reads to the end. A file
// longer than maxBytes is refused with EFBIG rather than cut short.
Contents read(const QString &path, qsizetype maxBytes);

// The first line of a file, trimmed; empty when the file cannot be read.
QString firstLine(const QString &path);

struct Listing {
    int error = 0; // errno when the folder could not be listed
    QStringList names; // sorted, without "." and ".."
};
Listing list(const QString &folder);

// An absolute system path inside root.
QString under(const QString &root, const QString &absolutePath);

} // namespace KCSystemFiles
