#pragma once

#include <QString>
#include <cstdint>

// Every port-mapping outcome, on either mapping path, is one of these service-discovery result
// codes; clients and the account service know them by number.
namespace KCDNSServiceError {
constexpr int32_t NoError = 0;
constexpr int32_t Unknown = -65537;
constexpr int32_t NoSuchName = -65538;
constexpr int32_t NoMemory = -65539;
constexpr int32_t BadParam = -65540;
constexpr int32_t BadReference = -65541;
constexpr int32_t BadState = -65542;
constexpr int32_t BadFlags = -65543;
constexpr int32_t Unsupported = -65544;
constexpr int32_t NotInitialized = -65545;
constexpr int32_t AlreadyRegistered = -65547;
constexpr int32_t NameConflict = -65548;
constexpr int32_t Invalid = -65549;
constexpr int32_t Firewall = -65550;
constexpr int32_t Incompatible = -65551;
constexpr int32_t BadInterfaceIndex = -65552;
constexpr int32_t Refused = -65553;
constexpr int32_t NoSuchRecord = -65554;
constexpr int32_t NoAuth = -65555;
constexpr int32_t NoSuchKey = -65556;
constexpr int32_t NATTraversal = -65557;
constexpr int32_t DoubleNAT = -65558;
constexpr int32_t BadTime = -65559;
constexpr int32_t BadSig = -65560;
constexpr int32_t BadKey = -65561;
constexpr int32_t Transient = -65562;
constexpr int32_t ServiceNotRunning = -65563;
constexpr int32_t NATPortMappingUnsupported = -65564;
constexpr int32_t NATPortMappingDisabled = -65565;
constexpr int32_t NoRouter = -65566;
constexpr int32_t PollingMode = -65567;
constexpr int32_t Timeout = -65568;

// The printed name of a code ("Double NAT"), or an empty string for a code outside the table.
QString name(int32_t code);
} // namespace KCDNSServiceError
