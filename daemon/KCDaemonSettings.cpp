#include "KCDaemonSettings.h"

#include "KCDaemonVocabulary.h"

#include <QCryptographicHash>
#include <QUuid>

namespace Key = KCDaemonSettingsStoreKey;

namespace {
const QString NotAvailable = QStringLiteral("N/A");
constexpr qint64 DefaultManualMode = qint64(KCPortMappingMode::Automatic);
constexpr qint64 DefaultVncPort = 5900;
constexpr qint64 DefaultSshPort = 22;
} // namespace

KCDaemonSettings::KCDaemonSettings(KCDefaultsStore &store, const KCHardwareIdentity &hardware)
    : _store(store)
    , _hardware(hardware)
{
    _store.registerDefaults(defaultUserDefaults());
    const QVariantMap fallbacks = defaultUserDefaults();

    _useSSH = numberForKey(Key::UseSSH, fallbacks.value(Key::UseSSH)).toBool();
    _preventSleep = numberForKey(Key::PreventSleep, fallbacks.value(Key::PreventSleep)).toBool();

    const QVariant mode = numberForKey(Key::ManualMode, fallbacks.value(Key::ManualMode));
    _manualMode = isValidPortMappingMode(mode) ? KCValue::integerValue(mode) : DefaultManualMode;

    _customAddress = stringForKey(Key::CustomAddress, fallbacks.value(Key::CustomAddress).toString());

    const QVariant customPort = numberForKey(Key::CustomPort, fallbacks.value(Key::CustomPort));
    _customPort = isValidPort(customPort, true) ? KCValue::integerValue(customPort) : 0;
    // Manual mode with no port given means the router forwards the standard port of the service.
    if (_customPort == 0 && _manualMode == qint64(KCPortMappingMode::Manual))
        _customPort = _useSSH ? DefaultSshPort : DefaultVncPort;

    _lastKeyboardLocale = stringForKey(Key::LastKeyboardLocale, fallbacks.value(Key::LastKeyboardLocale).toString());
    _hotKeys = stringForKey(Key::HotKeys, fallbacks.value(Key::HotKeys).toString());

    const QString storedUUID = stringForKey(Key::UUID, QString());
    if (isValidUniqueIdentifier(storedUUID))
        setUUID(storedUUID);
    else
        setUUID(generateUniqueIdentifier());

    const QVariant vncPort = numberForKey(Key::VncPort, fallbacks.value(Key::VncPort));
    _vncPort = isValidPort(vncPort, false) ? KCValue::integerValue(vncPort) : DefaultVncPort;
    const QVariant sshPort = numberForKey(Key::SshPort, fallbacks.value(Key::SshPort));
    _sshPort = isValidPort(sshPort, false) ? KCValue::integerValue(sshPort) : DefaultSshPort;

    _versionInfo = stringForKey(Key::VersionInfo, fallbacks.value(Key::VersionInfo).toString());
    _routerInfo = stringForKey(Key::RouterInfo, fallbacks.value(Key::RouterInfo).toString());

    setKcServiceLastLocalPorts(dictionaryForKey(Key::KCServiceLastLocalPorts, QVariantMap()));
}

QVariantMap KCDaemonSettings::defaultUserDefaults()
{
    return {
        {Key::UseSSH, false},
        {Key::PreventSleep, false},
        {Key::ManualMode, DefaultManualMode},
        {Key::CustomPort, qint64(0)},
        {Key::KCServiceLastLocalPorts, QVariantMap()},
        {Key::LastKeyboardLocale, QString()},
        {Key::HotKeys, QString()},
        {Key::RouterInfo, NotAvailable},
        {Key::VersionInfo, NotAvailable},
        {Key::VncPort, DefaultVncPort},
        {Key::SshPort, DefaultSshPort},
        {Key::CustomAddress, QString()},
    };
}

QVariantMap KCDaemonSettings::allSettings() const
{
    return {
        {KCDaemonSettingsUseSSH, _useSSH},
        {KCDaemonSettingsPreventSleep, _preventSleep},
        {KCDaemonSettingsManualMode, _manualMode},
        {KCDaemonSettingsCustomAddress, _customAddress},
        {KCDaemonSettingsCustomPort, _customPort},
        {KCDaemonSettingsKCServiceLastLocalPorts, _kcServiceLastLocalPorts},
        {KCDaemonSettingsLastKeyboardLocale, _lastKeyboardLocale},
        {KCDaemonSettingsHotKeys, _hotKeys},
        {KCDaemonSettingsLocalVncPort, _vncPort},
        {KCDaemonSettingsLocalSshPort, _sshPort},
        {KCDaemonSettingsVersionInfo, _versionInfo},
        {KCDaemonSettingsRouterInfo, _routerInfo},
        {KCDaemonSettingsUUID, _UUID},
    };
}

void KCDaemonSettings::save()
{
    _store.setObject(_useSSH, Key::UseSSH);
    _store.setObject(_preventSleep, Key::PreventSleep);
    _store.setObject(_manualMode, Key::ManualMode);
    _store.setObject(_customAddress, Key::CustomAddress);
    _store.setObject(_customPort, Key::CustomPort);
    _store.setObject(_lastKeyboardLocale, Key::LastKeyboardLocale);
    _store.setObject(_hotKeys, Key::HotKeys);
    _store.setObject(_UUID, Key::UUID);
    _store.setObject(_routerInfo, Key::RouterInfo);
    _store.setObject(_vncPort, Key::VncPort);
    _store.setObject(_sshPort, Key::SshPort);
    _store.setObject(_versionInfo, Key::VersionInfo);
}

void KCDaemonSettings::setKcServiceLastLocalPorts(const QVariantMap &ports)
{
    _kcServiceLastLocalPorts = ports;
    _store.setObject(_kcServiceLastLocalPorts, Key::KCServiceLastLocalPorts);
}

void KCDaemonSettings::setUUID(const QVariant &value)
{
    const QString trimmed = KCValue::isString(value) ? value.toString().trimmed() : QString();
    _UUID = isValidUniqueIdentifier(trimmed) ? trimmed : generateUniqueIdentifier();
    _store.setObject(_UUID, Key::UUID);
}

QVariant KCDaemonSettings::numberForKey(const QString &key, const QVariant &defaultValue) const
{
    const QVariant value = _store.objectForKey(key);
    return KCValue::isNumber(value) ? value : defaultValue;
}

QString KCDaemonSettings::stringForKey(const QString &key, const QString &defaultValue) const
{
    const QVariant value = _store.objectForKey(key);
    return KCValue::isString(value) ? value.toString() : defaultValue;
}

QVariantMap KCDaemonSettings::dictionaryForKey(const QString &key, const QVariantMap &defaultValue) const
{
    const QVariant value = _store.objectForKey(key);
    return KCValue::isMap(value) ? value.toMap() : defaultValue;
}

QString KCDaemonSettings::generateUniqueIdentifier()
{
    QString candidate = md5(getSystemUUID().value_or(QString()));
    if (candidate.isEmpty())
        candidate = md5(getSerialNumber().value_or(QString()));
    if (candidate.isEmpty()) {
        const QVariant stored = _store.objectForKey(Key::UniqueIdentifier);
        candidate = KCValue::isString(stored) ? stored.toString().trimmed() : QString();
        if (!isValidUniqueIdentifier(candidate)) {
            candidate = newRandomUniqueIdentifier();
            _store.setObject(candidate, Key::UniqueIdentifier);
        }
    }
    return isValidUniqueIdentifier(candidate) ? candidate : newRandomUniqueIdentifier();
}

QString KCDaemonSettings::md5(const QString &text)
{
    if (text.isEmpty())
        return {};
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
}

bool KCDaemonSettings::isValidPortMappingMode(const QVariant &number)
{
    if (!KCValue::isNumber(number))
        return false;
    const qint64 mode = KCValue::integerValue(number);
    return mode == qint64(KCPortMappingMode::Manual) || mode == qint64(KCPortMappingMode::Automatic);
}

bool KCDaemonSettings::isValidPort(const QVariant &number, bool allowZero)
{
    if (!KCValue::isNumber(number))
        return false;
    const qint64 port = KCValue::integerValue(number);
    if (port == 0)
        return allowZero;
    return port >= 1 && port <= 65535;
}

bool KCDaemonSettings::isValidUniqueIdentifier(const QVariant &value)
{
    if (!KCValue::isString(value))
        return false;
    const QString trimmed = value.toString().trimmed();
    if (trimmed.size() != 32)
        return false;
    for (const QChar c : trimmed) {
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!hex)
            return false;
    }
    return true;
}

QString KCDaemonSettings::newRandomUniqueIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).remove(QLatin1Char('-')).toUpper();
}
