#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Small file helpers for the tests of what the daemon keeps on disk.
namespace KCTestFiles {
// The file's bytes; empty when it cannot be read.
QByteArray readAll(const QString &path);
// Replaces the file's content; false when that failed.
bool writeAll(const QString &path, const QByteArray &data);
// The permission bits, or 0 when the path does not exist.
mode_t modeOf(const QString &path);
} // namespace KCTestFiles
