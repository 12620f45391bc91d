#include "KCFakeIGDSOAP.h"

#include <QXmlStreamReader>

namespace {

constexpr int kMaxArguments = 32;

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray envelope(const QByteArray &body)
{
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
        + body + "</s:Body></s:Envelope>\r\n";
}

} // namespace

std::optional<KCFakeIGDSOAP::Call> KCFakeIGDSOAP::parseCall(const QByteArray &body)
{
    QXmlStreamReader xml(body);
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("Envelope"))
            continue;
        if (xml.name() == QLatin1String("Header")) {
            xml.skipCurrentElement();
            continue;
        }
        if (xml.name() != QLatin1String("Body"))
            return std::nullopt;
        if (!xml.readNextStartElement())
            return std::nullopt;
        Call call;
        call.action = xml.name().toString();
        while (xml.readNextStartElement()) {
            if (call.arguments.size() >= kMaxArguments)
                return std::nullopt;
            const QString name = xml.name().toString();
            call.arguments.insert(name, xml.readElementText(QXmlStreamReader::SkipChildElements));
        }
        if (xml.hasError())
            return std::nullopt;
        return call;
    }
    return std::nullopt;
}

QByteArray KCFakeIGDSOAP::response(const QString &serviceType, const QString &action, const Values &values)
{
    QByteArray arguments;
    for (const auto &[name, value] : values)
        arguments += '<' + name.toUtf8() + '>' + escaped(value) + "</" + name.toUtf8() + '>';
    return envelope("<u:" + action.toUtf8() + "Response xmlns:u=\"" + serviceType.toUtf8() + "\">" + arguments
                    + "</u:" + action.toUtf8() + "Response>");
}

QByteArray KCFakeIGDSOAP::fault(int errorCode)
{
    return envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                    "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>"
                    + QByteArray::number(errorCode) + "</errorCode><errorDescription>"
                    + escaped(errorDescription(errorCode)) + "</errorDescription></UPnPError></detail></s:Fault>");
}

QString KCFakeIGDSOAP::errorDescription(int errorCode)
{
    switch (errorCode) {
    case 401:
        return QStringLiteral("Invalid Action");
    case 402:
        return QStringLiteral("Invalid Args");
    case 501:
        return QStringLiteral("Action Failed");
    case 606:
        return QStringLiteral("Action not authorized");
    case 713:
        return QStringLiteral("SpecifiedArrayIndexInvalid");
    case 714:
        return QStringLiteral("NoSuchEntryInArray");
    case 716:
        return QStringLiteral("WildCardNotPermittedInExtPort");
    case 718:
        return QStringLiteral("ConflictInMappingEntry");
    case 724:
        return QStringLiteral("SamePortValuesRequired");
    case 725:
        return QStringLiteral("OnlyPermanentLeasesSupported");
    case 726:
        return QStringLiteral("RemoteHostOnlySupportsWildcard");
    case 727:
        return QStringLiteral("ExternalPortOnlySupportsWildcard");
    default:
        return QStringLiteral("Error");
    }
}
