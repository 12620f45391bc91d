#pragma once

// Whether the system's disk is encrypted. Safe from any thread.
class KCDiskEncryption {
public:
    virtual ~KCDiskEncryption() = default;
    // False when it cannot be told.
    virtual bool rootFileSystemEncrypted() const = 0;
};
