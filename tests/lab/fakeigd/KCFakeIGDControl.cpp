#include "KCFakeIGDControl.h"

#include <QSaveFile>
#include <cstdio>

namespace {

void logLine(const QString &line)
{
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

std::optional<quint16> parsePort(const QString &text)
{
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

// Keeps one mapping on one line of the table whatever a client put into its description.
QString singleLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text;
}

} // namespace

KCFakeIGDControl::KCFakeIGDControl(const KCFakeIGDOptions &options, const KCFakeIGDDescription &description)
    : _options(options)
    , _description(description)
{
    _uptime.start();
}

KCFakeIGDHTTPResponse KCFakeIGDControl::handle(const KCFakeIGDHTTPRequest &request)
{
    const QString path = QString::fromUtf8(request.path);
    if (request.method == "GET" && path == QLatin1String("/rootDesc.xml")) {
        const QByteArray document = _description.document();
        logLine(QStringLiteral("GET %1 from %2: %3 bytes").arg(path, request.peer.toString()).arg(document.size()));
        return {200, "text/xml; charset=\"utf-8\"", document};
    }
    if (request.method == "POST" && path == KCFakeIGDDescription::kIPConnectionControlPath)
        return control(KCFakeIGDDescription::kWANIPConnection, request);
    if (request.method == "POST" && path == KCFakeIGDDescription::kCommonInterfaceControlPath)
        return control(KCFakeIGDDescription::kWANCommonInterfaceConfig, request);
    logLine(QStringLiteral("%1 %2 from %3: not found")
                .arg(QString::fromUtf8(request.method), path, request.peer.toString()));
    return {404, "text/plain", "not found\n"};
}

KCFakeIGDHTTPResponse KCFakeIGDControl::control(const QString &serviceType, const KCFakeIGDHTTPRequest &request)
{
    const std::optional<KCFakeIGDSOAP::Call> call = KCFakeIGDSOAP::parseCall(request.body);
    if (!call) {
        logLine(QStringLiteral("unreadable control request from %1").arg(request.peer.toString()));
        return {500, "text/xml; charset=\"utf-8\"", KCFakeIGDSOAP::fault(401)};
    }
    int error = 401;
    const Result values = serviceType == KCFakeIGDDescription::kWANIPConnection ? connectionAction(*call, &error)
                                                                                : commonInterfaceAction(*call, &error);
    QStringList arguments;
    for (auto it = call->arguments.cbegin(); it != call->arguments.cend(); ++it)
        arguments.append(it.key() + QLatin1Char('=') + it.value());
    arguments.sort();
    logLine(QStringLiteral("%1(%2) from %3: %4")
                .arg(call->action, arguments.join(QStringLiteral(", ")), request.peer.toString(),
                     values ? QStringLiteral("OK")
                            : QStringLiteral("%1 %2").arg(error).arg(KCFakeIGDSOAP::errorDescription(error))));
    if (!values)
        return {500, "text/xml; charset=\"utf-8\"", KCFakeIGDSOAP::fault(error)};
    return {200, "text/xml; charset=\"utf-8\"", KCFakeIGDSOAP::response(serviceType, call->action, *values)};
}

KCFakeIGDControl::Result KCFakeIGDControl::connectionAction(const KCFakeIGDSOAP::Call &call, int *error)
{
    if (call.action == QLatin1String("GetStatusInfo")) {
        return KCFakeIGDSOAP::Values{{QStringLiteral("NewConnectionStatus"), _options.connectionStatus},
                                     {QStringLiteral("NewLastConnectionError"), QStringLiteral("ERROR_NONE")},
                                     {QStringLiteral("NewUptime"), QString::number(_uptime.elapsed() / 1000)}};
    }
    if (call.action == QLatin1String("GetConnectionTypeInfo")) {
        return KCFakeIGDSOAP::Values{{QStringLiteral("NewConnectionType"), QStringLiteral("IP_Routed")},
                                     {QStringLiteral("NewPossibleConnectionTypes"), QStringLiteral("IP_Routed")}};
    }
    if (call.action == QLatin1String("GetExternalIPAddress")) {
        if (_options.externalIPAddressError != 0) {
            *error = _options.externalIPAddressError;
            return std::nullopt;
        }
        return KCFakeIGDSOAP::Values{{QStringLiteral("NewExternalIPAddress"), _options.externalIPAddress}};
    }
    if (call.action == QLatin1String("AddPortMapping"))
        return addPortMapping(call, error);
    if (call.action == QLatin1String("DeletePortMapping"))
        return deletePortMapping(call, error);
    if (call.action == QLatin1String("GetSpecificPortMappingEntry"))
        return specificPortMappingEntry(call, error);
    if (call.action == QLatin1String("GetGenericPortMappingEntry"))
        return genericPortMappingEntry(call, error);
    *error = 401;
    return std::nullopt;
}

KCFakeIGDControl::Result KCFakeIGDControl::commonInterfaceAction(const KCFakeIGDSOAP::Call &call, int *error)
{
    if (call.action == QLatin1String("GetCommonLinkProperties")) {
        return KCFakeIGDSOAP::Values{{QStringLiteral("NewWANAccessType"), QStringLiteral("Ethernet")},
                                     {QStringLiteral("NewLayer1UpstreamMaxBitRate"), QStringLiteral("100000000")},
                                     {QStringLiteral("NewLayer1DownstreamMaxBitRate"), QStringLiteral("100000000")},
                                     {QStringLiteral("NewPhysicalLinkStatus"), QStringLiteral("Up")}};
    }
    for (const QLatin1String counter : {QLatin1String("TotalBytesSent"), QLatin1String("TotalBytesReceived"),
                                        QLatin1String("TotalPacketsSent"), QLatin1String("TotalPacketsReceived")}) {
        if (call.action == QStringLiteral("Get") + counter)
            return KCFakeIGDSOAP::Values{{QStringLiteral("New") + counter, QStringLiteral("0")}};
    }
    *error = 401;
    return std::nullopt;
}

std::optional<KCFakeIGDControl::Key> KCFakeIGDControl::parseKey(const KCFakeIGDSOAP::Call &call)
{
    const QString protocol = call.arguments.value(QStringLiteral("NewProtocol")).trimmed().toUpper();
    const std::optional<quint16> port = parsePort(call.arguments.value(QStringLiteral("NewExternalPort")));
    if ((protocol != QLatin1String("TCP") && protocol != QLatin1String("UDP")) || !port)
        return std::nullopt;
    return Key{protocol, *port};
}

KCFakeIGDControl::Result KCFakeIGDControl::addPortMapping(const KCFakeIGDSOAP::Call &call, int *error)
{
    const qsizetype attempt = _addCalls++;
    *error = attempt < _options.addReplies.size() ? _options.addReplies.at(attempt) : _options.addDefault;
    if (*error != 0)
        return std::nullopt;

    const std::optional<Key> key = parseKey(call);
    const std::optional<quint16> internalPort = parsePort(call.arguments.value(QStringLiteral("NewInternalPort")));
    const QHostAddress client(call.arguments.value(QStringLiteral("NewInternalClient")).trimmed());
    if (!key || !internalPort || client.protocol() != QAbstractSocket::IPv4Protocol) {
        *error = 402;
        return std::nullopt;
    }
    const auto existing = _mappings.constFind(*key);
    if (existing != _mappings.cend() && existing->internalClient != client.toString()) {
        *error = 718;
        return std::nullopt;
    }
    _mappings.insert(*key, Mapping{client.toString(), *internalPort,
                                   call.arguments.value(QStringLiteral("NewPortMappingDescription")),
                                   call.arguments.value(QStringLiteral("NewLeaseDuration"), QStringLiteral("0"))});
    writeMappings();
    return KCFakeIGDSOAP::Values{};
}

KCFakeIGDControl::Result KCFakeIGDControl::deletePortMapping(const KCFakeIGDSOAP::Call &call, int *error)
{
    const std::optional<Key> key = parseKey(call);
    if (!key) {
        *error = 402;
        return std::nullopt;
    }
    if (_mappings.remove(*key) == 0) {
        *error = 714;
        return std::nullopt;
    }
    writeMappings();
    return KCFakeIGDSOAP::Values{};
}

KCFakeIGDControl::Result KCFakeIGDControl::specificPortMappingEntry(const KCFakeIGDSOAP::Call &call,
                                                                   int *error) const
{
    const std::optional<Key> key = parseKey(call);
    if (!key) {
        *error = 402;
        return std::nullopt;
    }
    const auto found = _mappings.constFind(*key);
    if (found == _mappings.cend()) {
        *error = 714;
        return std::nullopt;
    }
    return KCFakeIGDSOAP::Values{{QStringLiteral("NewInternalPort"), QString::number(found->internalPort)},
                                 {QStringLiteral("NewInternalClient"), found->internalClient},
                                 {QStringLiteral("NewEnabled"), QStringLiteral("1")},
                                 {QStringLiteral("NewPortMappingDescription"), found->description},
                                 {QStringLiteral("NewLeaseDuration"), found->leaseDuration}};
}

KCFakeIGDControl::Result KCFakeIGDControl::genericPortMappingEntry(const KCFakeIGDSOAP::Call &call,
                                                                  int *error) const
{
    bool ok = false;
    const qsizetype index = call.arguments.value(QStringLiteral("NewPortMappingIndex")).toLongLong(&ok);
    if (!ok || index < 0 || index >= _mappings.size()) {
        *error = 713;
        return std::nullopt;
    }
    const auto entry = std::next(_mappings.cbegin(), index);
    return KCFakeIGDSOAP::Values{{QStringLiteral("NewRemoteHost"), QString()},
                                 {QStringLiteral("NewExternalPort"), QString::number(entry.key().second)},
                                 {QStringLiteral("NewProtocol"), entry.key().first},
                                 {QStringLiteral("NewInternalPort"), QString::number(entry->internalPort)},
                                 {QStringLiteral("NewInternalClient"), entry->internalClient},
                                 {QStringLiteral("NewEnabled"), QStringLiteral("1")},
                                 {QStringLiteral("NewPortMappingDescription"), entry->description},
                                 {QStringLiteral("NewLeaseDuration"), entry->leaseDuration}};
}

// One line per mapping, sorted by protocol and port, in the lab's common table format:
// PROTOCOL EXTERNAL-PORT INTERNAL-ADDRESS:INTERNAL-PORT DESCRIPTION
bool KCFakeIGDControl::writeMappings() const
{
    if (_options.mappingsFile.isEmpty())
        return true;
    QByteArray table;
    for (auto it = _mappings.cbegin(); it != _mappings.cend(); ++it) {
        const QString description = singleLine(it->description);
        table += QStringLiteral("%1 %2 %3:%4 %5\n")
                     .arg(it.key().first)
                     .arg(it.key().second)
                     .arg(it->internalClient)
                     .arg(it->internalPort)
                     .arg(description.isEmpty() ? QStringLiteral("-") : description)
                     .toUtf8();
    }
    QSaveFile file(_options.mappingsFile);
    return file.open(QIODevice::WriteOnly) && file.write(table) == table.size() && file.commit();
}
