#include "KCFakeIGDOptions.h"

#include <QCommandLineParser>

namespace {

const QStringList kDescriptionModes = {
    QStringLiteral("normal"), QStringLiteral("not-igd"), QStringLiteral("huge"),
    QStringLiteral("deep"), QStringLiteral("external-entity"), QStringLiteral("entity-bomb"),
    QStringLiteral("malformed"), QStringLiteral("empty"),
};

std::optional<int> parseCode(const QString &text)
{
    bool ok = false;
    const int code = text.trimmed().toInt(&ok);
    if (!ok || code < 0 || code > 999)
        return std::nullopt;
    return code;
}

} // namespace

std::optional<QList<int>> KCFakeIGDOptions::parseReplies(const QString &text)
{
    QList<int> replies;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(QLatin1Char('*'));
        const std::optional<int> code = parseCode(parts.first());
        int count = 1;
        bool ok = parts.size() == 1;
        if (parts.size() == 2)
            count = parts.at(1).toInt(&ok);
        if (!code || !ok || parts.size() > 2 || count < 1 || count > 1000)
            return std::nullopt;
        for (int i = 0; i < count; ++i)
            replies.append(*code);
    }
    return replies;
}

std::optional<KCFakeIGDOptions> KCFakeIGDOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A scriptable UPnP Internet gateway for the router lab. It answers discovery, serves its "
        "description and answers WANIPConnection:1 control requests."));
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("LAN address to serve on."),
                                    QStringLiteral("address"));
    const QCommandLineOption httpPort(QStringLiteral("http-port"), QStringLiteral("HTTP port (0 picks one)."),
                                      QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption location(QStringLiteral("location"),
                                      QStringLiteral("Description URL announced in discovery answers."),
                                      QStringLiteral("url"));
    const QCommandLineOption externalIP(QStringLiteral("external-ip"),
                                        QStringLiteral("Text GetExternalIPAddress answers."), QStringLiteral("text"));
    const QCommandLineOption externalIPError(QStringLiteral("external-ip-error"),
                                             QStringLiteral("UPnP error GetExternalIPAddress answers with."),
                                             QStringLiteral("code"), QStringLiteral("0"));
    const QCommandLineOption status(QStringLiteral("connection-status"),
                                    QStringLiteral("Status GetStatusInfo reports."), QStringLiteral("status"),
                                    QStringLiteral("Connected"));
    const QCommandLineOption addReplies(QStringLiteral("add-replies"),
                                        QStringLiteral("Answers to successive AddPortMapping calls, e.g. 718*3,0."),
                                        QStringLiteral("codes"));
    const QCommandLineOption addDefault(QStringLiteral("add-default"),
                                        QStringLiteral("Answer to AddPortMapping once add-replies are used up."),
                                        QStringLiteral("code"), QStringLiteral("0"));
    const QCommandLineOption description(QStringLiteral("description"),
                                         QStringLiteral("Description document: %1 or file:PATH.")
                                             .arg(kDescriptionModes.join(QStringLiteral(", "))),
                                         QStringLiteral("mode"), QStringLiteral("normal"));
    const QCommandLineOption manufacturer(QStringLiteral("manufacturer"), QStringLiteral("Manufacturer name."),
                                          QStringLiteral("text"), QStringLiteral("Fendrel Lab"));
    const QCommandLineOption modelName(QStringLiteral("model-name"), QStringLiteral("Model name."),
                                       QStringLiteral("text"), QStringLiteral("FakeIGD"));
    const QCommandLineOption modelNumber(QStringLiteral("model-number"), QStringLiteral("Model number."),
                                         QStringLiteral("text"), QStringLiteral("FI-1"));
    const QCommandLineOption pidFile(QStringLiteral("pid-file"),
                                     QStringLiteral("Written once the sockets are open."), QStringLiteral("path"));
    const QCommandLineOption mappingsFile(QStringLiteral("mappings-file"),
                                          QStringLiteral("Table of mappings, rewritten on every change."),
                                          QStringLiteral("path"));
    parser.addOptions({listen, httpPort, location, externalIP, externalIPError, status, addReplies, addDefault,
                       description, manufacturer, modelName, modelNumber, pidFile, mappingsFile});
    parser.addHelpOption();

    QStringList withProgram = arguments;
    withProgram.prepend(QStringLiteral("kc-fakeigd"));
    if (!parser.parse(withProgram)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *error = parser.helpText();
        return std::nullopt;
    }

    KCFakeIGDOptions options;
    if (!options.listenAddress.setAddress(parser.value(listen))
        || options.listenAddress.protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("--listen needs an IPv4 address");
        return std::nullopt;
    }
    bool ok = false;
    const uint port = parser.value(httpPort).toUInt(&ok);
    if (!ok || port > 65535) {
        *error = QStringLiteral("--http-port needs a port number");
        return std::nullopt;
    }
    options.httpPort = static_cast<quint16>(port);
    options.location = parser.value(location);
    options.externalIPAddress = parser.value(externalIP);
    options.connectionStatus = parser.value(status);
    options.manufacturer = parser.value(manufacturer);
    options.modelName = parser.value(modelName);
    options.modelNumber = parser.value(modelNumber);
    options.pidFile = parser.value(pidFile);
    options.mappingsFile = parser.value(mappingsFile);

    const std::optional<int> ipError = parseCode(parser.value(externalIPError));
    const std::optional<int> addDefaultCode = parseCode(parser.value(addDefault));
    const std::optional<QList<int>> replies = parseReplies(parser.value(addReplies));
    if (!ipError || !addDefaultCode || !replies) {
        *error = QStringLiteral("UPnP error codes are numbers from 0 to 999, e.g. --add-replies 718*3,0");
        return std::nullopt;
    }
    options.externalIPAddressError = *ipError;
    options.addDefault = *addDefaultCode;
    options.addReplies = *replies;

    options.description = parser.value(description);
    if (!kDescriptionModes.contains(options.description)
        && !(options.description.startsWith(QLatin1String("file:")) && options.description.size() > 5)) {
        *error = QStringLiteral("unknown --description mode: %1").arg(options.description);
        return std::nullopt;
    }
    return options;
}
