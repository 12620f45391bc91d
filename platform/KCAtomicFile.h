#pragma once

#include <QByteArray>
#include <QString>

// Files that hold state the daemon cannot afford to lose half-written: settings and credentials.
// A write either leaves the old content or the new content on disk, whatever moment the process
// or the machine stops. Files are private to their owner (0600), folders too (0700).
namespace KCAtomicFile {

// Writes the data to a temporary file beside the target, flushes it, renames it over the
// target and flushes the folder. On failure the old file is untouched and error says why.
bool write(const QString &path, const QByteArray &data, QString *error);

enum class ReadStatus { Ok, Missing, TooLarge, Failed };

// Reads a regular file of at most maxSize bytes without following a symbolic link.
// TooLarge means the file exists but is bigger than maxSize; its content is not read.
ReadStatus read(const QString &path, qint64 maxSize, QByteArray *data, QString *error);

// Creates the folder (and missing parents) if needed; a folder this creates is 0700.
bool ensurePrivateDirectory(const QString &path, QString *error);

// Renames a damaged file to "<path>.damaged-<UTC time>" (a number is added if that name is
// taken; nothing is ever replaced) and returns the new path, or an empty string on failure.
QString moveAside(const QString &path, QString *error);
// The name moveAside would use at this moment, without the uniqueness suffix.
QString damagedName(const QString &path);

// Removes temporary files a killed writer of this path left behind.
void removeStaleTemporaries(const QString &path);

} // namespace KCAtomicFile
