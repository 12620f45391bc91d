// The application object's answer to a settings change from a client: each entry is taken in a
// fixed order and only with a value of its kind, port values are checked, the settings are saved,
// and what changed decides between a refresh of the port mappings and an update to the service.

#include "KCDaemonApplicationMain.h"

#include "KCPropertyListDescription.h"

#include <optional>

namespace {

constexpr qint64 HighestPort = 65535;
constexpr qint64 DefaultSshPort = 22;
constexpr qint64 DefaultVncPort = 5900;

enum class NextAction { RefreshPortMappings, SendUpdate };

std::optional<QString> stringEntry(const QVariantMap &settings, const QString &key)
{
    const auto found = settings.constFind(key);
    if (found == settings.cend() || !KCValue::isString(*found))
        return std::nullopt;
    return found->toString();
}

// Booleans, integers and reals alike: a client may send any kind of number.
std::optional<QVariant> numberEntry(const QVariantMap &settings, const QString &key)
{
    const auto found = settings.constFind(key);
    if (found == settings.cend() || !KCValue::isNumber(*found))
        return std::nullopt;
    return *found;
}

} // namespace

bool KCDaemonApplicationMain::userSettingsChanged(const QVariantMap &settings)
{
    // A change that touches nothing still ends in a refresh; each entry below may set what
    // follows, and the later ones (those that affect the port) win.
    NextAction next = NextAction::RefreshPortMappings;
    bool preventSleepUnchanged = true;

    if (const auto routerInfo = stringEntry(settings, KCDaemonSettingsRouterInfo); routerInfo && *routerInfo != _settings->routerInfo()) {
        _settings->setRouterInfo(*routerInfo);
        next = NextAction::SendUpdate;
    }
    if (const auto preventSleep = numberEntry(settings, KCDaemonSettingsPreventSleep); preventSleep && preventSleep->toBool() != _settings->preventSleep()) {
        _settings->setPreventSleep(preventSleep->toBool());
        setPreventSleepFlag(_settings->preventSleep());
        preventSleepUnchanged = false;
        next = NextAction::SendUpdate;
    }
    if (const auto locale = stringEntry(settings, KCDaemonSettingsLastKeyboardLocale); locale && *locale != _settings->lastKeyboardLocale()) {
        _settings->setLastKeyboardLocale(*locale);
        next = NextAction::SendUpdate;
    }
    if (const auto hotKeys = stringEntry(settings, KCDaemonSettingsHotKeys); hotKeys && *hotKeys != _settings->hotKeys()) {
        _settings->setHotKeys(*hotKeys);
        next = NextAction::SendUpdate;
    }
    if (const auto versionInfo = stringEntry(settings, KCDaemonSettingsVersionInfo); versionInfo && *versionInfo != _settings->versionInfo()) {
        _settings->setVersionInfo(*versionInfo);
        next = NextAction::SendUpdate;
    }
    if (const auto useSSH = numberEntry(settings, KCDaemonSettingsUseSSH); useSSH && useSSH->toBool() != _settings->useSSH()) {
        _settings->setUseSSH(useSSH->toBool());
        next = NextAction::RefreshPortMappings;
    }
    if (const auto mode = numberEntry(settings, KCDaemonSettingsManualMode)) {
        const qint64 requested = KCValue::integerValue(*mode);
        const bool valid = KCDaemonSettings::isValidPortMappingMode(*mode);
        // A mode that is neither manual nor automatic means automatic.
        const qint64 wanted = valid ? requested : qint64(KCPortMappingMode::Automatic);
        if (wanted != _settings->manualMode()) {
            _settings->setManualMode(wanted);
            next = NextAction::RefreshPortMappings;
        }
    }
    // Always taken as new: the address the user typed is applied again even when it is the same.
    if (const auto customAddress = stringEntry(settings, KCDaemonSettingsCustomAddress)) {
        _settings->setCustomAddress(*customAddress);
        next = NextAction::RefreshPortMappings;
    }
    if (const auto customPort = numberEntry(settings, KCDaemonSettingsCustomPort)) {
        qint64 port = KCValue::integerValue(*customPort);
        if (port < 0 || port > HighestPort) {
            logServiceEvent(QStringLiteral("Ignoring invalid custom port: %1").arg(KCPropertyListDescription::describe(*customPort)));
        } else {
            // No port given for a hand-made forwarding: the local service's usual one.
            if (port == 0 && _settings->manualMode() == qint64(KCPortMappingMode::Manual))
                port = _settings->useSSH() ? DefaultSshPort : DefaultVncPort;
            if (port != _settings->customPort()) {
                _settings->setCustomPort(port);
                next = NextAction::RefreshPortMappings;
            }
        }
    }
    // The local servers' ports: out of range, the event names the value and nothing changes.
    const auto takeLocalPort = [&](const QString &key, const QString &server, qint64 current, void (KCDaemonSettings::*store)(qint64)) {
        const auto port = numberEntry(settings, key);
        if (!port)
            return;
        if (!KCDaemonSettings::isValidPort(*port, false)) {
            logServiceEvent(QStringLiteral("Ignoring invalid local %1 port: %2").arg(server, KCPropertyListDescription::describe(*port)));
        } else if (KCValue::integerValue(*port) != current) {
            (_settings.get()->*store)(KCValue::integerValue(*port));
            next = NextAction::RefreshPortMappings;
        }
    };
    takeLocalPort(KCDaemonSettingsLocalVncPort, QStringLiteral("VNC"), _settings->vncPort(), &KCDaemonSettings::setVncPort);
    takeLocalPort(KCDaemonSettingsLocalSshPort, QStringLiteral("SSH"), _settings->sshPort(), &KCDaemonSettings::setSshPort);

    _settings->save();

    // Sleep prevention concerns this machine alone: a change of it, with nothing beside it that
    // affects the port, needs neither a refresh nor an update (the other entries go out with the
    // next update).
    if (preventSleepUnchanged || next == NextAction::RefreshPortMappings) {
        if (next == NextAction::RefreshPortMappings) {
            logServiceEvent(QStringLiteral("Refreshing port mappings (settings) ..."));
            refreshAllPortMappings();
        } else {
            logServiceEvent(QStringLiteral("Sending update to server (settings) ..."));
            sendUpdateToServer();
        }
    }
    return true;
}
