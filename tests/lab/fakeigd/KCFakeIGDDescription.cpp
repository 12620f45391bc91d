#include "KCFakeIGDDescription.h"

#include "KCFakeIGDOptions.h"

#include <QFile>
#include <QUuid>

const QString KCFakeIGDDescription::kWANIPConnection = QStringLiteral("urn:schemas-upnp-org:service:WANIPConnection:1");
const QString KCFakeIGDDescription::kWANCommonInterfaceConfig =
    QStringLiteral("urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1");
const QString KCFakeIGDDescription::kIPConnectionControlPath = QStringLiteral("/ctl/IPConn");
const QString KCFakeIGDDescription::kCommonInterfaceControlPath = QStringLiteral("/ctl/CmnIfCfg");

namespace {

const QString kGatewayType = QStringLiteral("urn:schemas-upnp-org:device:InternetGatewayDevice:1");
const QString kWANDeviceType = QStringLiteral("urn:schemas-upnp-org:device:WANDevice:1");
const QString kWANConnectionDeviceType = QStringLiteral("urn:schemas-upnp-org:device:WANConnectionDevice:1");
const QString kBasicDeviceType = QStringLiteral("urn:schemas-upnp-org:device:Basic:1");

// Sizes that break a client which trusts the document: well past any sane cap on the document
// (a few hundred KiB) and on nesting depth.
constexpr int kHugePaddingBytes = 2 * 1024 * 1024;
constexpr int kDeepNestingLevels = 20000;

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

} // namespace

KCFakeIGDDescription::KCFakeIGDDescription(const KCFakeIGDOptions &options)
    : _mode(options.description)
    , _manufacturer(options.manufacturer)
    , _modelName(options.modelName)
    , _modelNumber(options.modelNumber)
    , _udn(QStringLiteral("uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

QStringList KCFakeIGDDescription::searchTargets() const
{
    if (_mode == QLatin1String("not-igd"))
        return {kBasicDeviceType, QStringLiteral("upnp:rootdevice"), _udn};
    return {kGatewayType,          QStringLiteral("upnp:rootdevice"), _udn, kWANDeviceType, kWANConnectionDeviceType,
            kWANIPConnection, kWANCommonInterfaceConfig};
}

QByteArray KCFakeIGDDescription::document() const
{
    const QByteArray manufacturer = escaped(_manufacturer);
    if (_mode == QLatin1String("normal"))
        return gatewayDocument({}, {}, manufacturer);
    if (_mode == QLatin1String("not-igd"))
        return basicDeviceDocument();
    if (_mode == QLatin1String("empty"))
        return {};
    if (_mode == QLatin1String("huge"))
        return gatewayDocument({}, "<padding>" + QByteArray(kHugePaddingBytes, 'x') + "</padding>\n", manufacturer);
    if (_mode == QLatin1String("deep"))
        return gatewayDocument({}, QByteArray("<a>").repeated(kDeepNestingLevels) + QByteArray("</a>").repeated(kDeepNestingLevels) + "\n",
                               manufacturer);
    if (_mode == QLatin1String("external-entity"))
        return gatewayDocument("<!DOCTYPE root [\n<!ENTITY ext SYSTEM \"file:///etc/hostname\">\n]>\n", {}, "&ext;");
    if (_mode == QLatin1String("entity-bomb")) {
        QByteArray doctype = "<!DOCTYPE root [\n<!ENTITY lol0 \"lol\">\n";
        for (int i = 1; i <= 9; ++i) {
            QByteArray references;
            for (int j = 0; j < 10; ++j)
                references += "&lol" + QByteArray::number(i - 1) + ";";
            doctype += "<!ENTITY lol" + QByteArray::number(i) + " \"" + references + "\">\n";
        }
        return gatewayDocument(doctype + "]>\n", {}, "&lol9;");
    }
    if (_mode == QLatin1String("malformed")) {
        // Not XML: an end tag that does not match, an undefined entity and no end of the root.
        // A lenient reader still finds the control URLs in it.
        QByteArray broken = gatewayDocument({}, {}, manufacturer);
        broken.replace("</modelNumber>", "</modelNumbr>");
        broken.replace("</root>\n", "&undefined;\n");
        return broken;
    }
    QFile file(_mode.mid(5));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray KCFakeIGDDescription::gatewayDocument(const QByteArray &doctype, const QByteArray &beforeDevice,
                                                 const QByteArray &manufacturer) const
{
    const QByteArray udn = _udn.toUtf8();
    return "<?xml version=\"1.0\"?>\n" + doctype
        + "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\n"
          "<specVersion><major>1</major><minor>0</minor></specVersion>\n"
        + beforeDevice + "<device>\n<deviceType>" + kGatewayType.toUtf8()
        + "</deviceType>\n"
          "<friendlyName>Fendrel Lab fake gateway</friendlyName>\n"
          "<manufacturer>"
        + manufacturer + "</manufacturer>\n<modelName>" + escaped(_modelName) + "</modelName>\n<modelNumber>"
        + escaped(_modelNumber) + "</modelNumber>\n<UDN>" + udn
        + "</UDN>\n"
          "<deviceList><device>\n<deviceType>"
        + kWANDeviceType.toUtf8() + "</deviceType>\n<friendlyName>WAN device</friendlyName>\n<UDN>" + udn
        + "-wan</UDN>\n"
          "<serviceList><service>\n<serviceType>"
        + kWANCommonInterfaceConfig.toUtf8()
        + "</serviceType>\n<serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId>\n"
          "<SCPDURL>/WANCfg.xml</SCPDURL>\n<controlURL>"
        + kCommonInterfaceControlPath.toUtf8()
        + "</controlURL>\n<eventSubURL>/evt/CmnIfCfg</eventSubURL>\n"
          "</service></serviceList>\n"
          "<deviceList><device>\n<deviceType>"
        + kWANConnectionDeviceType.toUtf8() + "</deviceType>\n<friendlyName>WAN connection</friendlyName>\n<UDN>"
        + udn
        + "-conn</UDN>\n"
          "<serviceList><service>\n<serviceType>"
        + kWANIPConnection.toUtf8()
        + "</serviceType>\n<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>\n"
          "<SCPDURL>/WANIPCn.xml</SCPDURL>\n<controlURL>"
        + kIPConnectionControlPath.toUtf8()
        + "</controlURL>\n<eventSubURL>/evt/IPConn</eventSubURL>\n"
          "</service></serviceList>\n"
          "</device></deviceList>\n"
          "</device></deviceList>\n"
          "</device>\n</root>\n";
}

QByteArray KCFakeIGDDescription::basicDeviceDocument() const
{
    return "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\n"
           "<specVersion><major>1</major><minor>0</minor></specVersion>\n<device>\n<deviceType>"
        + kBasicDeviceType.toUtf8() + "</deviceType>\n<friendlyName>Fendrel Lab media box</friendlyName>\n<manufacturer>"
        + escaped(_manufacturer) + "</manufacturer>\n<modelName>" + escaped(_modelName) + "</modelName>\n<modelNumber>"
        + escaped(_modelNumber) + "</modelNumber>\n<UDN>" + _udn.toUtf8() + "</UDN>\n</device>\n</root>\n";
}
