#pragma once

#include <QString>

#include <memory>

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

// A folder that a test makes read-only or fills up: a scratch file system for root (which
// ignores permissions), the folder's permissions for everyone else (who can only make it
// read-only).
class KCFaultyFolder {
public:
    explicit KCFaultyFolder(const QString &path, qint64 sizeBytes = 1024 * 1024);

    bool ready() const { return !m_scratch || m_scratch->isMounted(); }
    QString error() const { return m_scratch ? m_scratch->error() : QString(); }
    bool setReadOnly(bool readOnly);

private:
    QString m_path;
    std::unique_ptr<KCScratchFileSystem> m_scratch;
};
