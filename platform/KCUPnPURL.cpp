#include "KCUPnPURL.h"

#include "KCIPv4Address.h"

namespace {

constexpr qsizetype kMaximumURLLength = 2048;
constexpr qsizetype kMaximumLoggedLength = 200;

bool isPrintableASCII(char c)
{
    return c > 0x20 && c < 0x7f;
}

} // namespace

std::optional<KCUPnPURL> KCUPnPURL::parse(QByteArrayView url)
{
    static constexpr QByteArrayView scheme("http://");
    if (url.size() > kMaximumURLLength || !url.startsWith(scheme))
        return std::nullopt;
    for (char c : url) {
        if (!isPrintableASCII(c))
            return std::nullopt;
    }
    const QByteArrayView rest = url.sliced(scheme.size());
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0)
        return std::nullopt;
    const QByteArrayView authority = rest.first(slash);
    const qsizetype colon = authority.indexOf(':');
    const QByteArrayView hostText = colon < 0 ? authority : authority.first(colon);
    // parse() would forgive white space; a URL has none (printable check above), so this is strict.
    const std::optional<uint32_t> host = KCIPv4Address::parse(hostText);
    if (!host)
        return std::nullopt;

    KCUPnPURL parsed;
    parsed.host = *host;
    if (colon >= 0) {
        const QByteArrayView portText = authority.sliced(colon + 1);
        if (portText.isEmpty() || portText.size() > 5)
            return std::nullopt;
        uint32_t port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9')
                return std::nullopt;
            port = port * 10 + uint32_t(c - '0');
        }
        if (port == 0 || port > 65535)
            return std::nullopt;
        parsed.port = uint16_t(port);
    }
    parsed.path = rest.sliced(slash).toByteArray();
    return parsed;
}

KCUPnPURLVerdict KCUPnPCheckURLAgainstGateway(QByteArrayView url, uint32_t gatewayAddress)
{
    const std::optional<KCUPnPURL> parsed = KCUPnPURL::parse(url);
    if (!parsed)
        return KCUPnPURLVerdict::NotAnIPv4HTTPURL;
    using namespace KCIPv4Address;
    if (isLoopback(parsed->host) || isUnspecified(parsed->host) || isLinkLocal(parsed->host)
        || isMulticast(parsed->host))
        return KCUPnPURLVerdict::ForbiddenAddress;
    if (gatewayAddress == 0 || parsed->host != gatewayAddress)
        return KCUPnPURLVerdict::NotTheGateway;
    return KCUPnPURLVerdict::Accepted;
}

QString KCUPnPLogSafeText(QByteArrayView text)
{
    QString safe;
    const qsizetype shown = qMin(text.size(), kMaximumLoggedLength);
    safe.reserve(shown + 3);
    for (qsizetype i = 0; i < shown; ++i) {
        const char c = text[i];
        safe.append(c >= 0x20 && c < 0x7f ? QChar::fromLatin1(c) : QLatin1Char('?'));
    }
    if (text.size() > shown)
        safe.append(QLatin1String("..."));
    return safe;
}
