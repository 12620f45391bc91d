#include "KCNATResultCodes.h"

#include "KCDNSServiceError.h"

namespace KCNATResultCodes {

int32_t fromNatPmp(uint16_t result)
{
    switch (result) {
    case 0:
        return KCDNSServiceError::NoError;
    case 1:
    case 5:
        return KCDNSServiceError::NATPortMappingUnsupported;
    case 2:
        return KCDNSServiceError::NATPortMappingDisabled;
    case 3:
    case 4:
        return KCDNSServiceError::NATTraversal;
    default:
        return KCDNSServiceError::Unknown;
    }
}

int32_t fromPcp(uint16_t result)
{
    switch (result) {
    case 0:
        return KCDNSServiceError::NoError;
    case 1:
    case 4:
    case 9:
        return KCDNSServiceError::NATPortMappingUnsupported;
    case 2:
        return KCDNSServiceError::NATPortMappingDisabled;
    case 3:
    case 5:
    case 6:
        return KCDNSServiceError::BadParam;
    case 7:
    case 8:
    case 10:
    case 11:
    case 13:
        return KCDNSServiceError::NATTraversal;
    case 12:
        return KCDNSServiceError::DoubleNAT;
    default:
        return KCDNSServiceError::Unknown;
    }
}

} // namespace KCNATResultCodes
