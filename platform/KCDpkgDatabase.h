#pragma once

#include <QString>

// What the package manager installed, as dpkg records it: one list of files per package
// (var/lib/dpkg/info/*.list) under a root folder ("/" on a real system). A file counts as the
// package manager's when a list names it, by its own path or by another that leads to the same
// file: with a merged /usr, /lib/systemd/system and /usr/lib/systemd/system are one folder.
class KCDpkgDatabase {
public:
    explicit KCDpkgDatabase(QString root);

    // path is absolute as seen from the root. False when nothing is recorded (no dpkg).
    bool ownsPath(const QString &path) const;

private:
    QString onDisk(const QString &path) const;

    QString _root;
};
