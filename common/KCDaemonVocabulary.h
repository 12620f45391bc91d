#pragma once

// The keys and codes that the daemon and its clients exchange. Every constant holds exactly its
// own name, so a key or a code compares equal on both ends of the bus whichever side built it.

#include <QString>

// Keys of the status dictionary.
inline const QString KCDaemonStatusPortMapping = QStringLiteral("KCDaemonStatusPortMapping");
inline const QString KCDaemonStatusAccounts = QStringLiteral("KCDaemonStatusAccounts");
inline const QString KCDaemonStatusLastMappingStatus = QStringLiteral("KCDaemonStatusLastMappingStatus");
inline const QString KCDaemonStatusSettings = QStringLiteral("KCDaemonStatusSettings");
inline const QString KCDaemonStatusExternalIPAddress = QStringLiteral("KCDaemonStatusExternalIPAddress");
inline const QString KCDaemonStatusCustomAddresses = QStringLiteral("KCDaemonStatusCustomAddresses");
inline const QString KCDaemonStatusMappedPorts = QStringLiteral("KCDaemonStatusMappedPorts");
inline const QString KCDaemonStatusUPNPIGDDiscoveryDiagnostics =
    QStringLiteral("KCDaemonStatusUPNPIGDDiscoveryDiagnostics");

// Keys of the settings dictionary (and of the settings-change dictionary).
inline const QString KCDaemonSettingsUseSSH = QStringLiteral("KCDaemonSettingsUseSSH");
inline const QString KCDaemonSettingsPreventSleep = QStringLiteral("KCDaemonSettingsPreventSleep");
inline const QString KCDaemonSettingsManualMode = QStringLiteral("KCDaemonSettingsManualMode");
inline const QString KCDaemonSettingsCustomAddress = QStringLiteral("KCDaemonSettingsCustomAddress");
inline const QString KCDaemonSettingsCustomPort = QStringLiteral("KCDaemonSettingsCustomPort");
inline const QString KCDaemonSettingsKCServiceLastLocalPorts =
    QStringLiteral("KCDaemonSettingsKCServiceLastLocalPorts");
inline const QString KCDaemonSettingsLastKeyboardLocale = QStringLiteral("KCDaemonSettingsLastKeyboardLocale");
inline const QString KCDaemonSettingsHotKeys = QStringLiteral("KCDaemonSettingsHotKeys");
inline const QString KCDaemonSettingsLocalVncPort = QStringLiteral("KCDaemonSettingsLocalVncPort");
inline const QString KCDaemonSettingsLocalSshPort = QStringLiteral("KCDaemonSettingsLocalSshPort");
inline const QString KCDaemonSettingsVersionInfo = QStringLiteral("KCDaemonSettingsVersionInfo");
inline const QString KCDaemonSettingsRouterInfo = QStringLiteral("KCDaemonSettingsRouterInfo");
inline const QString KCDaemonSettingsUUID = QStringLiteral("KCDaemonSettingsUUID");

// Port-mapping status codes: the values of KCDaemonStatusPortMapping, of
// KCDaemonStatusLastMappingStatus and of each account record's status.
inline const QString KCDaemonStatusPortMappingInitializing = QStringLiteral("KCDaemonStatusPortMappingInitializing");
inline const QString KCDaemonStatusPortMappingSuccessful = QStringLiteral("KCDaemonStatusPortMappingSuccessful");
inline const QString KCDaemonStatusPortMappingFailed = QStringLiteral("KCDaemonStatusPortMappingFailed");
inline const QString KCDaemonStatusPortMappingMissingPublicIP = QStringLiteral("KCDaemonStatusPortMappingMissingPublicIP");
inline const QString KCDaemonStatusPortMappingAlreadyRegistered =
    QStringLiteral("KCDaemonStatusPortMappingAlreadyRegistered");
inline const QString KCDaemonStatusPortMappingUnavailable = QStringLiteral("KCDaemonStatusPortMappingUnavailable");
inline const QString KCDaemonStatusPortMappingDisabledOnRouter =
    QStringLiteral("KCDaemonStatusPortMappingDisabledOnRouter");
inline const QString KCDaemonStatusPortMappingDoubleNAT = QStringLiteral("KCDaemonStatusPortMappingDoubleNAT");
inline const QString KCDaemonStatusNATTraversal = QStringLiteral("KCDaemonStatusNATTraversal");
inline const QString KCDaemonStatusNoRouter = QStringLiteral("KCDaemonStatusNoRouter");
inline const QString KCDaemonStatusPortMappingTimeout = QStringLiteral("KCDaemonStatusPortMappingTimeout");
inline const QString KCDaemonStatusPortMappingServiceNotRunning =
    QStringLiteral("KCDaemonStatusPortMappingServiceNotRunning");
inline const QString KCDaemonStatusPortMappingUnknownError = QStringLiteral("KCDaemonStatusPortMappingUnknownError");
inline const QString KCDaemonStatusPortMappingSystemError = QStringLiteral("KCDaemonStatusPortMappingSystemError");
inline const QString KCDaemonStatusPortMappingUsingManualSetting =
    QStringLiteral("KCDaemonStatusPortMappingUsingManualSetting");
inline const QString KCDaemonStatusNoAccounts = QStringLiteral("KCDaemonStatusNoAccounts");

// Account status codes: the values of the KCDaemonStatusAccounts dictionary.
inline const QString KCDaemonStatusAccountDaemonInitializing = QStringLiteral("KCDaemonStatusAccountDaemonInitializing");
inline const QString KCDaemonStatusAccountUpdating = QStringLiteral("KCDaemonStatusAccountUpdating");
inline const QString KCDaemonStatusAccountUpdated = QStringLiteral("KCDaemonStatusAccountUpdated");
inline const QString KCDaemonStatusAccountPasswordMismatch = QStringLiteral("KCDaemonStatusAccountPasswordMismatch");
inline const QString KCDaemonStatusAccountUnverified = QStringLiteral("KCDaemonStatusAccountUnverified");
inline const QString KCDaemonStatusAccountUnregistered = QStringLiteral("KCDaemonStatusAccountUnregistered");
inline const QString KCDaemonStatusAccountNotFound = QStringLiteral("KCDaemonStatusAccountNotFound");
inline const QString KCDaemonStatusAccountSigningOut = QStringLiteral("KCDaemonStatusAccountSigningOut");

// The last-mapping status before any mapping result arrived.
inline const QString KCDaemonStatusLastMappingNotSet = QStringLiteral("Not Set");

// Port-mapping mode (KCDaemonSettingsManualMode).
enum class KCPortMappingMode : int { Manual = 1, Automatic = 2 };
