#pragma once

#include "KCDefaultsStore.h"
#include "KCHardwareIdentity.h"

#include <QString>
#include <QVariantMap>

#include <optional>

// The names under which the daemon's settings domain keeps each setting. The lower-case
// "vncPort" and "sshPort" are what existing stores hold.
namespace KCDaemonSettingsStoreKey {
inline const QString UseSSH = QStringLiteral("UseSSH");
inline const QString PreventSleep = QStringLiteral("PreventSleep");
inline const QString ManualMode = QStringLiteral("ManualMode");
inline const QString CustomPort = QStringLiteral("CustomPort");
inline const QString KCServiceLastLocalPorts = QStringLiteral("KCServiceLastLocalPorts");
inline const QString LastKeyboardLocale = QStringLiteral("LastKeyboardLocale");
inline const QString HotKeys = QStringLiteral("HotKeys");
inline const QString RouterInfo = QStringLiteral("RouterInfo");
inline const QString VersionInfo = QStringLiteral("VersionInfo");
inline const QString VncPort = QStringLiteral("vncPort");
inline const QString SshPort = QStringLiteral("sshPort");
inline const QString UUID = QStringLiteral("UUID");
inline const QString CustomAddress = QStringLiteral("CustomAddress");
// The identifier made at random, once, on machines whose firmware names no UUID or serial number.
inline const QString UniqueIdentifier = QStringLiteral("uniqueIdentifier");
} // namespace KCDaemonSettingsStoreKey

// The daemon's persisted settings. Loading validates every value and falls back silently to the
// default for anything of the wrong kind or out of range. Setters change memory only, except
// setUUID and setKcServiceLastLocalPorts, which write at once; save() writes the rest.
class KCDaemonSettings {
public:
    // Registers the fallbacks with the store and loads. Both must outlive the settings.
    KCDaemonSettings(KCDefaultsStore &store, const KCHardwareIdentity &hardware);

    // Every setting under its KCDaemonSettings… key.
    QVariantMap allSettings() const;
    void save();

    bool useSSH() const { return _useSSH; }
    void setUseSSH(bool useSSH) { _useSSH = useSSH; }
    bool preventSleep() const { return _preventSleep; }
    void setPreventSleep(bool preventSleep) { _preventSleep = preventSleep; }
    qint64 manualMode() const { return _manualMode; }
    void setManualMode(qint64 manualMode) { _manualMode = manualMode; }
    qint64 customPort() const { return _customPort; }
    void setCustomPort(qint64 customPort) { _customPort = customPort; }
    QVariantMap kcServiceLastLocalPorts() const { return _kcServiceLastLocalPorts; }
    void setKcServiceLastLocalPorts(const QVariantMap &ports);
    QString lastKeyboardLocale() const { return _lastKeyboardLocale; }
    void setLastKeyboardLocale(const QString &locale) { _lastKeyboardLocale = locale; }
    QString hotKeys() const { return _hotKeys; }
    void setHotKeys(const QString &hotKeys) { _hotKeys = hotKeys; }
    QString routerInfo() const { return _routerInfo; }
    void setRouterInfo(const QString &routerInfo) { _routerInfo = routerInfo; }
    QString versionInfo() const { return _versionInfo; }
    void setVersionInfo(const QString &versionInfo) { _versionInfo = versionInfo; }
    qint64 vncPort() const { return _vncPort; }
    void setVncPort(qint64 port) { _vncPort = port; }
    qint64 sshPort() const { return _sshPort; }
    void setSshPort(qint64 port) { _sshPort = port; }
    QString UUID() const { return _UUID; }
    // Takes the value, trimmed, if it is a valid identifier and a derived one otherwise.
    void setUUID(const QVariant &value);
    QString customAddress() const { return _customAddress; }
    void setCustomAddress(const QString &address) { _customAddress = address; }

    // The store's value for the key when it is of that kind, else the default.
    QVariant numberForKey(const QString &key, const QVariant &defaultValue) const;
    QString stringForKey(const QString &key, const QString &defaultValue) const;
    QVariantMap dictionaryForKey(const QString &key, const QVariantMap &defaultValue) const;

    // The machine's identifier: the MD5 of the firmware's UUID, else of its serial number, else
    // one made at random once and kept under "uniqueIdentifier".
    QString generateUniqueIdentifier();
    std::optional<QString> getSystemUUID() const { return _hardware.systemUUID(); }
    std::optional<QString> getSerialNumber() const { return _hardware.serialNumber(); }

    // Upper-case hexadecimal MD5 of the text's UTF-8 bytes; empty for an empty text.
    static QString md5(const QString &text);
    static QVariantMap defaultUserDefaults();
    static bool isValidPortMappingMode(const QVariant &number);
    static bool isValidPort(const QVariant &number, bool allowZero);
    static bool isValidUniqueIdentifier(const QVariant &value);
    static QString newRandomUniqueIdentifier();

private:
    bool _useSSH = false;
    bool _preventSleep = false;
    qint64 _manualMode = 2;
    qint64 _customPort = 0;
    QVariantMap _kcServiceLastLocalPorts;
    KCDefaultsStore &_store;
    QString _lastKeyboardLocale;
    QString _hotKeys;
    QString _routerInfo;
    QString _versionInfo;
    qint64 _vncPort = 5900;
    qint64 _sshPort = 22;
    QString _UUID;
    QString _customAddress;
    const KCHardwareIdentity &_hardware;
};
