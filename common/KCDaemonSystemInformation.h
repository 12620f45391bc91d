#pragma once

#include "KCDaemonSystemInformationDelegate.h"
#include "KCDynamicStore.h"
#include "KCHardwareAddress.h"
#include "KCSystemInformationSources.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// What both programs ask about the machine they run on. The static operations need no instance,
// keep no state and may run on any thread; each takes the sources it asks (this machine's by
// default). An instance watches the system configuration store and tells its delegate, on the
// main thread, when the computer name, the local host name or the global IPv4 state changes.
//
// "en0" and "en1", the interfaces the private address is looked for on, are the interface of
// the default route followed by the physical Ethernet and Wi-Fi interfaces in index order.
class KCDaemonSystemInformation : public QObject {
    Q_OBJECT
public:
    using Sources = KCSystemInformationSources;

    // The instance for this machine: its own system configuration store and sources.
    static std::unique_ptr<KCDaemonSystemInformation> initWithDelegate(KCDaemonSystemInformationDelegate *delegate);

    // Reads both names and starts watching the store, which the instance keeps for its life. The
    // delegate (may be null) is not owned and must outlive the instance.
    KCDaemonSystemInformation(KCDaemonSystemInformationDelegate *delegate, std::unique_ptr<KCDynamicStore> store,
                              const Sources &sources = Sources::system(), QObject *parent = nullptr);
    ~KCDaemonSystemInformation() override;

    QString computerName() const { return m_computerName; }
    // Ends in ".local."; "scerrorhostnamenull.local." when the machine has no host name.
    QString localHostname() const { return m_localHostname; }
    quint16 sshListeningPort() const;
    quint16 vncListeningPort() const;
    // The store the instance watches, for reading the global IPv4 state.
    const KCDynamicStore &dynamicStore() const { return *m_store; }
    // The sources the instance asks, for the class operations about the same machine.
    const Sources &sources() const { return m_sources; }

    // The hardware address as "00:1A:2B:3C:4D:5E" or, with removeColons, "001A2B3C4D5E";
    // "000000000000" when none is found.
    static QString macAddressHexString(bool removeColons, const Sources &sources = Sources::system());
    static std::optional<QString> privateIPAddress(const Sources &sources = Sources::system());
    // Network byte order; 0 when "en0" and "en1" have no address while up.
    static quint32 rawLocalAddress(const Sources &sources = Sources::system());
    static std::optional<QString> localIPv4Address(const Sources &sources = Sources::system());
    static std::optional<QString> interfaceNameForIPAddress(const QString &address, const Sources &sources = Sources::system());
    // Colon form of the neighbour-table entry's hardware address; none for an empty address.
    static std::optional<QString> privateIPAddressToMACAddress(const QString &address, const Sources &sources = Sources::system());
    static std::optional<KCHardwareAddress> primaryMACAddress(const Sources &sources = Sources::system());
    static std::optional<KCHardwareAddress> macAddressForInterfaceNamed(const QString &interfaceName,
                                                                        const Sources &sources = Sources::system());
    // The first valid address among the physical Ethernet and Wi-Fi interfaces in index order,
    // or of the one with the given name.
    static std::optional<KCHardwareAddress> ioRegistryMACAddressForPrimaryInterfaceNamed(const std::optional<QString> &interfaceName,
                                                                                         const Sources &sources = Sources::system());
    static std::optional<KCHardwareAddress> linkLayerMACAddressForInterfaceNamed(const QString &interfaceName,
                                                                                 const Sources &sources = Sources::system());
    // Whether the root file system sits on dm-crypt.
    static bool isFileVaultEnabled(const Sources &sources = Sources::system());
    static bool isPluggedIntoPowerOutlet(const Sources &sources = Sources::system());

    // "en0" and "en1": at most two names, the default route's interface first.
    static QStringList primaryInterfaceNames(const Sources &sources = Sources::system());

private:
    void keysChanged(KCDynamicStoreKeys keys);
    QString _findComputerName() const;
    QString _findLocalHostname() const;

    KCDaemonSystemInformationDelegate *m_delegate;
    std::unique_ptr<KCDynamicStore> m_store;
    Sources m_sources;
    QString m_computerName;
    QString m_localHostname;
};
