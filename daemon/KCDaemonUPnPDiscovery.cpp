#include "KCDaemonUPnPDiscovery.h"

#include "KCDNSServiceError.h"
#include "KCDaemonUPNPIGDDescriptionParser.h"
#include "KCIPv4Address.h"

#include <QUrl>
#include <arpa/inet.h>

namespace KCDaemonUPnPDiscovery {
namespace {

const QString kPrivateIPv4 = QStringLiteral("private-ipv4");
const QString kPublicIPv4 = QStringLiteral("public-ipv4");
const QString kIPv6 = QStringLiteral("ipv6");
const QString kHostname = QStringLiteral("hostname");
const QString kUnknown = QStringLiteral("unknown");

bool isIPv6Address(const QString &host)
{
    // A zone ("fe80::1%eth0") is not part of the address.
    const QByteArray address = host.section(QLatin1Char('%'), 0, 0).toLatin1();
    in6_addr parsed {};
    return !address.isEmpty() && inet_pton(AF_INET6, address.constData(), &parsed) == 1;
}

QVariantMap buildDiagnostics(KCUPnPIGDSession &session)
{
    const QByteArray url = session.rootDescriptionURL();
    QVariantMap diagnostics;
    const QString hostType = descriptionHostType(url);
    diagnostics.insert(KCUPnPDiagnosticsDescriptionURLKey, diagnosticsDescriptionURL(url, hostType));
    diagnostics.insert(KCUPnPDiagnosticsDescriptionHostTypeKey, hostType);
    const QByteArray serviceType = session.serviceType();
    if (!serviceType.isEmpty())
        diagnostics.insert(KCUPnPDiagnosticsServiceTypeKey, QString::fromUtf8(serviceType));
    // Fetch and parse failures are not reported: the diagnostics just lack the router's make.
    const std::optional<QByteArray> document = session.fetchRootDescription();
    if (document && !document->isEmpty()) {
        KCDaemonUPNPIGDDescriptionParser parser;
        if (parser.parse(*document))
            diagnostics.insert(parser.routerInformation());
    }
    return diagnostics;
}

} // namespace

QString descriptionHostType(const QByteArray &descriptionURL)
{
    const QUrl url(QString::fromUtf8(descriptionURL), QUrl::StrictMode);
    const QString host = url.isValid() ? url.host() : QString();
    if (host.isEmpty())
        return kUnknown;
    if (const std::optional<uint32_t> address = KCIPv4Address::parse(host.toLatin1()))
        return KCIPv4Address::isPrivate(*address) ? kPrivateIPv4 : kPublicIPv4;
    if (isIPv6Address(host))
        return kIPv6;
    return kHostname;
}

QString diagnosticsDescriptionURL(const QByteArray &descriptionURL, const QString &hostType)
{
    const QString text = QString::fromUtf8(descriptionURL);
    if (hostType != kPrivateIPv4 && hostType != kPublicIPv4 && hostType != kIPv6)
        return text;
    QUrl url(text, QUrl::StrictMode);
    url.setHost(hostType, QUrl::StrictMode);
    return url.isValid() ? url.toString() : text;
}

KCDaemonUPnPDiscoveredIGD discoverIGD(KCUPnPIGDClient &client, uint32_t gatewayAddress, bool withDiagnostics)
{
    KCDaemonUPnPDiscoveredIGD discovered;
    KCUPnPDiscovery discovery = client.discover(gatewayAddress);
    if (!discovery.devices) {
        discovered.code = discovery.reportedError ? KCDNSServiceError::NATTraversal : KCDNSServiceError::NoRouter;
        return discovered;
    }
    KCUPnPValidIGD igd = discovery.devices->validIGD();
    if (igd.session && withDiagnostics && !igd.session->rootDescriptionURL().isEmpty())
        discovered.diagnostics = buildDiagnostics(*igd.session);
    discovery.devices.reset();

    switch (igd.result) {
    case KCUPnPValidIGD::ConnectedIGD:
    case KCUPnPValidIGD::PrivateAddressIGD:
        discovered.code = igd.session ? KCDNSServiceError::NoError : KCDNSServiceError::NoRouter;
        discovered.session = std::move(igd.session);
        break;
    case KCUPnPValidIGD::DisconnectedIGD:
    case KCUPnPValidIGD::UnknownDevice:
        discovered.code = KCDNSServiceError::NATPortMappingUnsupported;
        break;
    default:
        discovered.code = KCDNSServiceError::NoRouter;
        break;
    }
    return discovered;
}

} // namespace KCDaemonUPnPDiscovery
