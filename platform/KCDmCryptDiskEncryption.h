#pragma once

#include "KCDiskEncryption.h"

#include <QString>

// The root file system counts as encrypted when its block device, or a device beneath it (LVM
// on an encrypted partition, say), is a dm-crypt mapping. Read from /proc/self/mountinfo and
// sysfs under the given root.
class KCDmCryptDiskEncryption final : public KCDiskEncryption {
public:
    explicit KCDmCryptDiskEncryption(const QString &root = QStringLiteral("/"));

    bool rootFileSystemEncrypted() const override;

private:
    // The sysfs folder of the block device the root file system is mounted from.
    QString rootBlockDevice() const;
    bool isEncrypted(const QString &blockDeviceFolder, int depth) const;

    QString m_root;
};
