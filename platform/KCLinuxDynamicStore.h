#pragma once

#include "KCDynamicStore.h"
#include "KCHostnamed.h"
#include "KCRouteWatch.h"
#include "KCRoutingTables.h"
#include "KCTimerSource.h"

#include <QFileSystemWatcher>

#include <chrono>
#include <memory>

// The system configuration store on Linux.
// - Computer name: the host-name service's pretty host name when the service is there and has
//   one, else the static host name.
// - Local host name: the first label of the static host name, from "hostname" in the
//   configuration folder (/etc).
// - Global IPv4 state: the main table's default route.
// Kernel route, address and link events, the service's announcements and changes to "hostname"
// or "machine-info" in the configuration folder make the store read again once things have
// settled; it reports only the keys whose values differ from what it reported last.
class KCLinuxDynamicStore final : public KCDynamicStore {
    Q_OBJECT
public:
    // How long the store waits after the first of a burst of events before it reads again: an
    // interface going down sends link, address and route events one after the other.
    static constexpr std::chrono::milliseconds settleTime{100};

    // Reads everything once before returning. The routing tables must outlive the store.
    KCLinuxDynamicStore(std::unique_ptr<KCHostnamed> hostnamed, const KCRoutingTables &routing,
                        std::unique_ptr<KCRouteWatch> routeWatch, const QString &configurationFolder,
                        KCTimerSource &timers = KCTimerSource::system(), QObject *parent = nullptr);
    ~KCLinuxDynamicStore() override;

    // The store of this machine: hostnamed on the system bus, routing netlink and /etc.
    static std::unique_ptr<KCLinuxDynamicStore> createSystemStore(QObject *parent = nullptr);

    std::optional<QString> computerName() const override { return m_names.computerName; }
    std::optional<QString> localHostName() const override { return m_names.localHostName; }
    std::optional<KCGlobalIPv4State> globalIPv4State() const override { return m_globalIPv4; }

Q_SIGNALS:
    // After every read that events caused, whether or not a key changed: everything that
    // happened before the events has been taken in.
    void settled();

private:
    struct Names {
        std::optional<QString> computerName;
        std::optional<QString> localHostName;
    };
    struct FileStamp {
        bool exists = false;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        friend bool operator==(const FileStamp &, const FileStamp &) = default;
    };

    Names readNames() const;
    QList<FileStamp> stampConfigurationFiles() const;
    void watchConfigurationFiles();
    void configurationFolderChanged();
    void namesMayHaveChanged();
    void routingMayHaveChanged();
    void settle();

    std::unique_ptr<KCHostnamed> m_hostnamed;
    const KCRoutingTables &m_routing;
    std::unique_ptr<KCRouteWatch> m_routeWatch;
    QString m_configurationFolder;
    QFileSystemWatcher m_folderWatch;
    QList<FileStamp> m_fileStamps;
    std::unique_ptr<KCTimer> m_settleTimer;
    bool m_namesDirty = false;
    bool m_routingDirty = false;
    Names m_names;
    std::optional<KCGlobalIPv4State> m_globalIPv4;
};
