#pragma once

#include "KCDynamicStore.h"

// A store whose values a test sets. Setting a value notifies nobody; notify() sends one
// notification naming whichever keys the test says, as the system would after a change.
class KCFakeDynamicStore final : public KCDynamicStore {
    Q_OBJECT
public:
    using KCDynamicStore::KCDynamicStore;

    std::optional<QString> computerName() const override { return m_computerName; }
    std::optional<QString> localHostName() const override { return m_localHostName; }
    std::optional<KCGlobalIPv4State> globalIPv4State() const override { return m_globalIPv4; }

    void setComputerName(const std::optional<QString> &name) { m_computerName = name; }
    void setLocalHostName(const std::optional<QString> &name) { m_localHostName = name; }
    void setGlobalIPv4State(const std::optional<KCGlobalIPv4State> &state) { m_globalIPv4 = state; }

    void notify(KCDynamicStoreKeys keys) { Q_EMIT keysChanged(keys); }

private:
    std::optional<QString> m_computerName;
    std::optional<QString> m_localHostName;
    std::optional<KCGlobalIPv4State> m_globalIPv4;
};
