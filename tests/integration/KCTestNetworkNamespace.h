#pragma once

#include <QString>

// A network namespace of the test's own with only a loopback interface, so a daemon started in
// it cannot reach the machine's network. Removed when the object goes; namespaces that killed
// test processes left behind are removed when the next one is made.
class KCTestNetworkNamespace {
public:
    KCTestNetworkNamespace();
    ~KCTestNetworkNamespace();
    KCTestNetworkNamespace(const KCTestNetworkNamespace &) = delete;
    KCTestNetworkNamespace &operator=(const KCTestNetworkNamespace &) = delete;

    bool isReady() const { return m_ready; }
    QString name() const { return m_name; }
    QString error() const { return m_error; }

private:
    QString m_name;
    QString m_error;
    bool m_ready = false;
};
