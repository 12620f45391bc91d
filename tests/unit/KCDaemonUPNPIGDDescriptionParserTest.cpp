#include "KCDaemonUPNPIGDDescriptionParser.h"

#include <gtest/gtest.h>

namespace {

QByteArray device(const QByteArray &inner)
{
    return "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>" + inner
        + "</device></root>";
}

struct ParseCase {
    const char *name;
    QByteArray document;
    QVariantMap expected;
};

QVariantMap info(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QVariantMap map;
    for (const auto &[key, value] : entries)
        map.insert(QString::fromLatin1(key), QString::fromUtf8(value));
    return map;
}

TEST(KCDaemonUPNPIGDDescriptionParser, CollectsTheRouterMakeByTheRules)
{
    const std::vector<ParseCase> cases = {
        {"all three", device("<manufacturer>Acme</manufacturer><modelName>AX-3000</modelName>"
                             "<modelNumber>1.0</modelNumber>"),
            info({{"manufacturer", "Acme"}, {"modelName", "AX-3000"}, {"modelNumber", "1.0"}})},
        {"white space and newlines trimmed", device("<manufacturer>  Acme Networks\n</manufacturer>"),
            info({{"manufacturer", "Acme Networks"}})},
        {"blank value keeps the earlier one",
            "<root><device><modelNumber>7</modelNumber><deviceList><device><modelNumber> \n\t</modelNumber>"
            "<modelNumber></modelNumber></device></deviceList></device></root>",
            info({{"modelNumber", "7"}})},
        {"the last device wins",
            "<root><device><modelName>Root</modelName><deviceList><device><modelName>WAN</modelName>"
            "</device></deviceList></device></root>",
            info({{"modelName", "WAN"}})},
        {"none of the three", device("<friendlyName>Router</friendlyName><UDN>uuid:1</UDN>"), {}},
        {"names compare case-sensitively", device("<ModelName>X</ModelName><MANUFACTURER>Y</MANUFACTURER>"), {}},
        {"a prefix is part of the name", "<r xmlns:u=\"urn:x\"><u:modelName>X</u:modelName></r>", {}},
        {"references and sections are text",
            device("<manufacturer>A&amp;B &#x263A;</manufacturer><modelName><![CDATA[<X>]]></modelName>"),
            info({{"manufacturer", "A&B \u263A"}, {"modelName", "<X>"}})},
        {"any element end closes the capture", device("<manufacturer>Acme<b>Net</b>works</manufacturer>"),
            info({{"manufacturer", "AcmeNet"}})},
        {"declared encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><manufacturer>\xe9t\xe9</manufacturer></r>",
            info({{"manufacturer", "\xc3\xa9t\xc3\xa9"}})},
        {"a document type without a subset", "<!DOCTYPE root><root><modelName>M</modelName></root>",
            info({{"modelName", "M"}})},
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.name);
        KCDaemonUPNPIGDDescriptionParser parser;
        EXPECT_TRUE(parser.parse(c.document));
        EXPECT_EQ(parser.routerInformation(), c.expected);
    }
}

QByteArray nested(int depth)
{
    return QByteArray("<a>").repeated(depth) + "<modelName>deep</modelName>" + QByteArray("</a>").repeated(depth);
}

QByteArray billionLaughs()
{
    QByteArray document = "<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY lol0 \"lol\">";
    for (int level = 1; level <= 9; ++level) {
        document += "<!ENTITY lol" + QByteArray::number(level) + " \"";
        for (int i = 0; i < 10; ++i)
            document += "&lol" + QByteArray::number(level - 1) + ';';
        document += "\">";
    }
    return document + "]><root><manufacturer>&lol9;</manufacturer></root>";
}

TEST(KCDaemonUPNPIGDDescriptionParser, RefusesHostileDocuments)
{
    const QByteArray padding = "<!--" + QByteArray(KCDaemonUPNPIGDDescriptionParser::kMaximumDocumentSize, 'x') + "-->";
    const std::vector<std::pair<const char *, QByteArray>> cases = {
        {"empty", QByteArray()},
        {"oversized", device("<manufacturer>Acme</manufacturer>" + padding)},
        {"10000 levels deep", nested(10000)},
        {"one level too deep", nested(KCDaemonUPNPIGDDescriptionParser::kMaximumDepth)},
        {"billion laughs", billionLaughs()},
        {"external entity",
            "<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY ext SYSTEM \"file:///etc/shadow\">]>"
            "<root><manufacturer>&ext;</manufacturer></root>"},
        {"parameter entity", "<!DOCTYPE root [<!ENTITY % p SYSTEM \"http://192.168.1.1/x.dtd\"> %p;]><root/>"},
        {"unclosed", "<root><manufacturer>Acme</manufacturer><device>"},
        {"mismatched", "<root><manufacturer>Acme</modelName></root>"},
        {"trailing junk", "<root><manufacturer>Acme</manufacturer></root>garbage"},
        {"not UTF-8", "<root><manufacturer>Acme \xff\xfe</manufacturer></root>"},
        {"not XML", "HTTP/1.1 200 OK\r\n\r\n{\"manufacturer\":\"Acme\"}"},
    };
    for (const auto &[name, document] : cases) {
        SCOPED_TRACE(name);
        KCDaemonUPNPIGDDescriptionParser parser;
        EXPECT_FALSE(parser.parse(document));
    }

    // The limits themselves are fine: 64 levels (the element inside the 63 counts) and a document
    // of exactly the maximum size.
    KCDaemonUPNPIGDDescriptionParser atDepth;
    EXPECT_TRUE(atDepth.parse(nested(KCDaemonUPNPIGDDescriptionParser::kMaximumDepth - 1)));
    EXPECT_EQ(atDepth.routerInformation(), info({{"modelName", "deep"}}));
    QByteArray full = "<r><modelName>M</modelName><!--";
    full += QByteArray(KCDaemonUPNPIGDDescriptionParser::kMaximumDocumentSize - full.size() - 7, 'x') + "--></r>";
    ASSERT_EQ(full.size(), KCDaemonUPNPIGDDescriptionParser::kMaximumDocumentSize);
    KCDaemonUPNPIGDDescriptionParser atSize;
    EXPECT_TRUE(atSize.parse(full));
}

TEST(KCDaemonUPNPIGDDescriptionParser, AnUndeclaredExternalReferenceIsNeverResolved)
{
    // An external document type may be named, but nothing is fetched and the reference stays
    // empty text.
    KCDaemonUPNPIGDDescriptionParser parser;
    EXPECT_TRUE(parser.parse("<!DOCTYPE root SYSTEM \"http://192.168.1.1/evil.dtd\">"
                             "<root><manufacturer>&ext;</manufacturer><modelName>M</modelName></root>"));
    EXPECT_EQ(parser.routerInformation(), info({{"modelName", "M"}}));
}

} // namespace
