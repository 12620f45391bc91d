#include "KCFakeIGDDescription.h"
#include "KCFakeIGDOptions.h"

#include <QTemporaryFile>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

constexpr qsizetype kParserSizeCap = 256 * 1024;

KCFakeIGDOptions optionsFor(const QString &description)
{
    QString error;
    const std::optional<KCFakeIGDOptions> options =
        KCFakeIGDOptions::parse({QStringLiteral("--listen=192.168.77.1"), QStringLiteral("--description"), description,
                                 QStringLiteral("--manufacturer"), QStringLiteral("A<b>&\"c\"")},
                                &error);
    EXPECT_TRUE(options) << error.toStdString();
    return options.value_or(KCFakeIGDOptions{});
}

struct Reading {
    QXmlStreamReader::Error error = QXmlStreamReader::NoError;
    int maxDepth = 0;
    QString manufacturer;
    bool hasIPConnection = false;
};

Reading read(const QByteArray &document)
{
    Reading reading;
    QXmlStreamReader xml(document);
    int depth = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            reading.maxDepth = std::max(reading.maxDepth, ++depth);
            if (xml.name() == QLatin1String("manufacturer")) {
                reading.manufacturer = xml.readElementText();
                --depth;
            } else if (xml.name() == QLatin1String("serviceType")) {
                reading.hasIPConnection |= xml.readElementText() == KCFakeIGDDescription::kWANIPConnection;
                --depth;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    reading.error = xml.error();
    return reading;
}

} // namespace

// What a parser test relies on from each hostile document: the gateway's data stays findable
// for a lenient client, and the document is hostile in exactly the announced way.
TEST(KCFakeIGDDescription, DocumentsAreHostileInTheAnnouncedWay)
{
    struct Case {
        const char *mode;
        QXmlStreamReader::Error error;
        qsizetype minSize;
        qsizetype maxSize;
        int minDepth;
        bool gateway;
    };
    const Case cases[] = {
        {"normal", QXmlStreamReader::NoError, 1, 16 * 1024, 1, true},
        {"not-igd", QXmlStreamReader::NoError, 1, 16 * 1024, 1, false},
        // Over the cap, with the device beyond it.
        {"huge", QXmlStreamReader::NoError, 8 * kParserSizeCap, 16 * kParserSizeCap, 1, true},
        // Under the cap, so only a depth limit stops a parser.
        {"deep", QXmlStreamReader::NoError, 1, kParserSizeCap, 20000, true},
        {"entity-bomb", QXmlStreamReader::NotWellFormedError, 1, 16 * 1024, 1, false},
        {"malformed", QXmlStreamReader::NotWellFormedError, 1, 16 * 1024, 1, false},
        {"empty", QXmlStreamReader::PrematureEndOfDocumentError, 0, 0, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        const KCFakeIGDOptions options = optionsFor(QString::fromLatin1(c.mode));
        const QByteArray document = KCFakeIGDDescription(options).document();
        const Reading reading = read(document);
        EXPECT_EQ(reading.error, c.error) << reading.error;
        EXPECT_GE(document.size(), c.minSize);
        EXPECT_LE(document.size(), c.maxSize);
        EXPECT_GE(reading.maxDepth, c.minDepth);
        EXPECT_EQ(reading.hasIPConnection, c.gateway);
        if (c.gateway) {
            EXPECT_EQ(reading.manufacturer, QStringLiteral("A<b>&\"c\""));
        }
        if (QByteArrayView(c.mode) == "huge") {
            EXPECT_GT(document.indexOf("<device>"), kParserSizeCap);
        }
    }
}

TEST(KCFakeIGDDescription, ExternalEntityPointsAtALocalFile)
{
    const QByteArray document = KCFakeIGDDescription(optionsFor(QStringLiteral("external-entity"))).document();
    EXPECT_TRUE(document.contains("<!ENTITY ext SYSTEM \"file:///etc/hostname\">"));
    EXPECT_TRUE(document.contains("<manufacturer>&ext;</manufacturer>"));
    EXPECT_TRUE(read(document).hasIPConnection);
}

TEST(KCFakeIGDDescription, FileDocumentIsServedAsItIs)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    const QByteArray bytes("<root>\0 not text", 16);
    file.write(bytes);
    file.flush();
    EXPECT_EQ(KCFakeIGDDescription(optionsFor(QStringLiteral("file:") + file.fileName())).document(), bytes);
    EXPECT_TRUE(KCFakeIGDDescription(optionsFor(QStringLiteral("file:/nonexistent/desc.xml"))).document().isEmpty());
}

TEST(KCFakeIGDDescription, OnlyAGatewayAnswersGatewaySearches)
{
    const QString gatewayType = QStringLiteral("urn:schemas-upnp-org:device:InternetGatewayDevice:1");
    const KCFakeIGDDescription gateway(optionsFor(QStringLiteral("normal")));
    const KCFakeIGDDescription other(optionsFor(QStringLiteral("not-igd")));
    EXPECT_EQ(gateway.searchTargets().first(), gatewayType);
    EXPECT_TRUE(gateway.searchTargets().contains(KCFakeIGDDescription::kWANIPConnection));
    EXPECT_FALSE(other.searchTargets().contains(gatewayType));
    EXPECT_FALSE(other.searchTargets().contains(KCFakeIGDDescription::kWANIPConnection));
    EXPECT_TRUE(other.searchTargets().contains(QStringLiteral("upnp:rootdevice")));
}
