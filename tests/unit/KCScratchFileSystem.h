#pragma once

#include <QString>

// A small file system of a test's own, for faults no folder permission can make for root: a
// read-only disk and a full one. It lives in a mount namespace private to the calling thread, so
// nothing outside the test sees it, and it is gone when the test process ends.
class KCScratchFileSystem {
public:
    // Mounts an empty tmpfs of sizeBytes on the existing folder path. Needs root.
    KCScratchFileSystem(const QString &path, qint64 sizeBytes);
    ~KCScratchFileSystem();
    KCScratchFileSystem(const KCScratchFileSystem &) = delete;
    KCScratchFileSystem &operator=(const KCScratchFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }
    QString error() const { return m_error; }
    bool setReadOnly(bool readOnly);

private:
    QString m_path;
    qint64 m_size;
    bool m_mounted = false;
    QString m_error;
};
