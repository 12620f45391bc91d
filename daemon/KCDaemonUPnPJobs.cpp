#include "KCDaemonUPnPJobs.h"

#include "KCDNSServiceError.h"
#include "KCDaemonUPnPDiscovery.h"
#include "KCIPv4Address.h"
#include "KCLog.h"

#include <QRandomGenerator>

namespace KCDaemonUPnPJobs {
namespace {

// UPnP error codes of AddPortMapping that mean something to us.
constexpr int kConflictInMappingEntry = 718;
constexpr int kActionNotAuthorized = 606;
constexpr int kOnlyPermanentLeasesSupported = 725;

constexpr int kMappingTries = 4;
const QByteArray kTCP = QByteArrayLiteral("TCP");
const QByteArray kUDP = QByteArrayLiteral("UDP");
// No expiry: the mapping lives until we delete it (and the verification notices if it goes).
const QByteArray kLeaseDuration = QByteArrayLiteral("0");

int32_t codeForRefusedAdd(int error)
{
    switch (error) {
    case kActionNotAuthorized:
        return KCDNSServiceError::NATPortMappingDisabled;
    case kOnlyPermanentLeasesSupported:
        return KCDNSServiceError::NATPortMappingUnsupported;
    default:
        return KCDNSServiceError::Unknown;
    }
}

void logRefusedAdd(const QByteArray &protocol, int error)
{
    qCWarning(lcKC).noquote() << QStringLiteral("miniupnpc %1 AddPortMapping failed with error %2")
                                     .arg(QString::fromLatin1(protocol))
                                     .arg(error);
}

struct PublicAddress {
    int32_t code = KCDNSServiceError::Unknown;
    uint32_t address = 0;
};

// The router's public address, with the WAN address discovery reported standing in when the
// router will not tell.
PublicAddress publicAddress(KCUPnPIGDSession &session)
{
    QByteArray text;
    if (session.getExternalIPAddress(text) != 0 || text.trimmed().isEmpty())
        text = session.wanAddress();
    const std::optional<uint32_t> address = KCIPv4Address::parse(text);
    if (!address)
        return {KCDNSServiceError::Unknown, 0};
    if (KCIPv4Address::isPrivate(*address))
        return {KCDNSServiceError::DoubleNAT, *address};
    return {KCDNSServiceError::NoError, *address};
}

void deleteBoth(KCUPnPIGDSession &session, uint16_t externalPort)
{
    session.deletePortMapping(externalPort, kTCP);
    session.deletePortMapping(externalPort, kUDP);
}

} // namespace

uint16_t randomExternalPort()
{
    return uint16_t(10000 + QRandomGenerator::global()->bounded(39152u));
}

KCDaemonUPnPJobResult mappingJob(KCUPnPIGDClient &client, uint32_t gatewayAddress, uint16_t internalPort,
    uint16_t externalPort)
{
    KCDaemonUPnPJobResult result;
    KCDaemonUPnPDiscoveredIGD discovered = KCDaemonUPnPDiscovery::discoverIGD(client, gatewayAddress, true);
    result.diagnostics = std::move(discovered.diagnostics);
    if (!discovered.session) {
        result.code = discovered.code;
        return result;
    }
    KCUPnPIGDSession &session = *discovered.session;
    const QByteArray internalClient = session.lanAddress();

    uint16_t port = externalPort;
    for (int attempt = 1;; ++attempt) {
        const auto add = [&](const QByteArray &protocol) {
            return session.addPortMapping(port, internalPort, internalClient, KCUPnPMappingDescription, protocol,
                kLeaseDuration);
        };
        int error = add(kTCP);
        QByteArray refusedProtocol = kTCP;
        if (error == 0) {
            error = add(kUDP);
            refusedProtocol = kUDP;
            if (error != 0)
                session.deletePortMapping(port, kTCP);
        }
        if (error != 0) {
            logRefusedAdd(refusedProtocol, error);
            if (error != kConflictInMappingEntry) {
                result.code = codeForRefusedAdd(error);
                return result;
            }
            result.conflictedPorts.append(port);
            if (attempt == kMappingTries) {
                result.code = KCDNSServiceError::Invalid;
                return result;
            }
            port = randomExternalPort();
            continue;
        }

        const PublicAddress address = publicAddress(session);
        result.code = address.code;
        result.externalAddress = address.address;
        if (address.code == KCDNSServiceError::NoError)
            result.externalPort = port;
        else
            deleteBoth(session, port);
        return result;
    }
}

KCDaemonUPnPJobResult verificationJob(KCUPnPIGDClient &client, uint32_t gatewayAddress, uint16_t externalPort)
{
    KCDaemonUPnPJobResult result;
    KCDaemonUPnPDiscoveredIGD discovered = KCDaemonUPnPDiscovery::discoverIGD(client, gatewayAddress, false);
    if (!discovered.session) {
        result.code = discovered.code;
        return result;
    }
    KCUPnPIGDSession &session = *discovered.session;
    const bool tcpPresent = session.getSpecificPortMappingEntry(externalPort, kTCP) == 0;
    const bool udpPresent = session.getSpecificPortMappingEntry(externalPort, kUDP) == 0;
    if (!tcpPresent || !udpPresent) {
        result.code = KCDNSServiceError::NATPortMappingUnsupported;
        return result;
    }
    const PublicAddress address = publicAddress(session);
    result.code = address.code;
    result.externalAddress = address.address;
    if (address.code == KCDNSServiceError::NoError)
        result.externalPort = externalPort;
    return result;
}

void removalJob(KCUPnPIGDClient &client, uint32_t gatewayAddress, uint16_t externalPort)
{
    KCDaemonUPnPDiscoveredIGD discovered = KCDaemonUPnPDiscovery::discoverIGD(client, gatewayAddress, false);
    if (discovered.session)
        deleteBoth(*discovered.session, externalPort);
}

std::optional<QVariantMap> diagnosticsJob(KCUPnPIGDClient &client, uint32_t gatewayAddress)
{
    return KCDaemonUPnPDiscovery::discoverIGD(client, gatewayAddress, true).diagnostics;
}

} // namespace KCDaemonUPnPJobs
