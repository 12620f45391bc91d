#include "KCDNSServiceError.h"

#include <array>
#include <utility>

namespace KCDNSServiceError {

QString name(int32_t code)
{
    static constexpr std::array<std::pair<int32_t, const char *>, 32> names{{
        {NoError, "NoError"},
        {Unknown, "Unknown"},
        {NoSuchName, "No such name"},
        {NoMemory, "No memory"},
        {BadParam, "Bad param"},
        {BadReference, "Bad reference"},
        {BadState, "Bad state"},
        {BadFlags, "Bad flags"},
        {Unsupported, "Unsupported"},
        {NotInitialized, "Not initialized"},
        {AlreadyRegistered, "Already registered"},
        {NameConflict, "Name conflict"},
        {Invalid, "Invalid"},
        {Firewall, "Firewall"},
        {Incompatible, "Incompatible"},
        {BadInterfaceIndex, "Bad interface index"},
        {Refused, "Refused"},
        {NoSuchRecord, "No such record"},
        {NoAuth, "No auth"},
        {NoSuchKey, "No such key"},
        {NATTraversal, "NAT traversal"},
        {DoubleNAT, "Double NAT"},
        {BadTime, "Bad time"},
        {BadSig, "Bad sig"},
        {BadKey, "Bad key"},
        {Transient, "Transient"},
        {ServiceNotRunning, "Service not running"},
        {NATPortMappingUnsupported, "NAT port mapping unsupported"},
        {NATPortMappingDisabled, "NAT port mapping disabled"},
        {NoRouter, "No router"},
        {PollingMode, "Polling Mode"},
        {Timeout, "Timeout"},
    }};
    for (const auto &[value, text] : names) {
        if (value == code)
            return QString::fromLatin1(text);
    }
    return {};
}

} // namespace KCDNSServiceError
