#include "KCCharacterSet.h"
#include "KCHTTPUtils.h"
#include "KCLogCapture.h"

#include <gtest/gtest.h>

namespace {

const QString kBaseURL = QStringLiteral("https://service.test/app/6.0");
const QString kUUID = QStringLiteral("0123456789abcdefABCDEF0123456789");
const QString kBundleID = QStringLiteral("com.fendrel.Kovra-Connect");

class KCHTTPUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { KCHTTPUtils::setAccountServiceBaseURL(kBaseURL); }
    void TearDown() override { KCHTTPUtils::setAccountServiceBaseURL(QString()); }
};

QByteArray bodyOf(const KCRequestParameters &params)
{
    const auto request = KCHTTPUtils::createPostURLRequest(QStringLiteral("https://elsewhere.test/form"), params);
    return request ? request->body : QByteArray("<no request>");
}

QVariant dictionary(std::initializer_list<KCRequestParameters::Entry> entries)
{
    return QVariant::fromValue(KCRequestParameters(entries));
}

struct BodyCase {
    const char *name;
    KCRequestParameters params;
    QByteArray body;
};

TEST_F(KCHTTPUtilsTest, BuildsTheFormBodyByteForByte)
{
    const BodyCase cases[] = {
        {"array of numbers", {{QStringLiteral("ports"), QVariantList{5900, 22}}}, "ports[]=5900&ports[]=22"},
        {"space and slash, parameter set", {{QStringLiteral("name"), QStringLiteral("a b/c")}}, "name=a%20b%2Fc"},
        {"space and slash, host set", {{QStringLiteral("x_uha"), QStringLiteral("a b/c")}}, "x_uha=a%20b%2Fc"},
        {"form syntax, parameter set", {{QStringLiteral("name"), QStringLiteral("a=b&c")}}, "name=a%3Db%26c"},
        {"form syntax, host set", {{QStringLiteral("x_uha"), QStringLiteral("a=b&c")}}, "x_uha=a=b&c"},
        {"plus goes out as %252b", {{QStringLiteral("n"), QStringLiteral("1+1")}}, "n=1%252b1"},
        {"dictionary: sub-key plus replaced, value plus encoded",
         {{QStringLiteral("info"), dictionary({{QStringLiteral("k+"), QStringLiteral("v+")}})}},
         "info[k%2b]=v%2B"},
        {"no parameters", {}, ""},
        {"fields keep the parameters' order",
         {{QStringLiteral("zeta"), 1}, {QStringLiteral("alpha"), 2}, {QStringLiteral("mid"), 3}},
         "zeta=1&alpha=2&mid=3"},
        {"booleans and numbers",
         {{QStringLiteral("on"), true}, {QStringLiteral("off"), false}, {QStringLiteral("n"), -5},
          {QStringLiteral("big"), qint64(5000000000)}, {QStringLiteral("d"), 1.5}},
         "on=1&off=0&n=-5&big=5000000000&d=1.5"},
        {"at sign and UTF-8, parameter set", {{QStringLiteral("name"), QStringLiteral("Zo\u00eb@home")}}, "name=Zo%C3%AB@home"},
        {"at sign, colon and brackets, host set", {{QStringLiteral("fb_uha"), QStringLiteral("p@ss:[]")}}, "fb_uha=p%40ss:[]"},
        {"password in both encodings",
         {{QStringLiteral("password"), QStringLiteral("a+b&c")}, {QStringLiteral("fb_uha"), QStringLiteral("a+b&c")}},
         "password=a%252bb%26c&fb_uha=a%252bb&c"},
        {"keys are never escaped", {{QStringLiteral("we ird&k=ey"), QStringLiteral("v")}}, "we ird&k=ey=v"},
        {"QVariantMap dictionary enumerates sorted",
         {{QStringLiteral("KCServicePort"), QVariantMap{{QStringLiteral("b@x"), 1}, {QStringLiteral("a@x"), 2}}}},
         "KCServicePort[a@x]=2&KCServicePort[b@x]=1"},
        {"ordered dictionary keeps its order",
         {{QStringLiteral("KCServiceBackend"),
           dictionary({{QStringLiteral("b@x"), QStringLiteral("miniupnpc")}, {QStringLiteral("a@x"), QStringLiteral("natpmp-pcp")}})}},
         "KCServiceBackend[b@x]=miniupnpc&KCServiceBackend[a@x]=natpmp-pcp"},
        {"dictionary under _uha: host set, value plus kept",
         {{QStringLiteral("d_uha"), dictionary({{QStringLiteral("k"), QStringLiteral("a+b&c")}})}},
         "d_uha[k]=a+b&c"},
        {"list under _uha", {{QStringLiteral("fb_uha"), QStringList{QStringLiteral("a&b+c")}}}, "fb_uha[]=a&b%252bc"},
        {"empty list gives no field", {{QStringLiteral("a"), QVariantList{}}, {QStringLiteral("b"), 1}}, "b=1"},
        {"escaped computer name is encoded again",
         {{QStringLiteral("ComputerName"), KCHTTPUtils::escapeCharacters(QStringLiteral("Tom & Jerry+"))}},
         "ComputerName=Tom%2520%2526%2520Jerry%252b"},
    };
    for (const BodyCase &c : cases)
        EXPECT_EQ(bodyOf(c.params), c.body) << c.name;
}

TEST_F(KCHTTPUtilsTest, RequestIsAFormPostWithNoCacheAndSixtySecondTimeout)
{
    const auto request = KCHTTPUtils::createPostURLRequest(kBaseURL + QStringLiteral("/computer/update.php"),
                                                           {{QStringLiteral("UUID"), kUUID}, {QStringLiteral("bundleID"), kBundleID}});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->networkRequest.url(), QUrl(kBaseURL + QStringLiteral("/computer/update.php")));
    EXPECT_EQ(request->networkRequest.rawHeader("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request->networkRequest.attribute(QNetworkRequest::CacheLoadControlAttribute).toInt(), QNetworkRequest::AlwaysNetwork);
    EXPECT_EQ(request->networkRequest.transferTimeout(), 60000);
    EXPECT_EQ(request->body, "UUID=" + kUUID.toLatin1() + "&bundleID=com.fendrel.Kovra-Connect");
}

TEST_F(KCHTTPUtilsTest, IdentityIsRequiredOnlyUnderTheServiceBaseURL)
{
    const KCRequestParameters badIdentity = {{QStringLiteral("UUID"), QStringLiteral("not-a-uuid")}, {QStringLiteral("bundleID"), kBundleID}};
    const QString serviceURL = kBaseURL + QStringLiteral("/computer/update.php");
    {
        KCLogCapture log;
        EXPECT_FALSE(KCHTTPUtils::createPostURLRequest(serviceURL, badIdentity));
        EXPECT_TRUE(log.contains(QStringLiteral("Not sending request to ") + serviceURL
                                 + QStringLiteral(" because UUID or bundleID is missing/invalid")));
    }
    EXPECT_TRUE(KCHTTPUtils::createPostURLRequest(QStringLiteral("https://elsewhere.test/app/6.0/computer/update.php"), badIdentity));
    EXPECT_FALSE(KCHTTPUtils::createPostURLRequest(serviceURL, {}));

    KCHTTPUtils::setAccountServiceBaseURL(QString());
    EXPECT_TRUE(KCHTTPUtils::createPostURLRequest(serviceURL, badIdentity)) << "no service configured, nothing to protect";
}

TEST_F(KCHTTPUtilsTest, LogsTheBodyWithoutThePasswords)
{
    KCLogCapture log;
    const auto request = KCHTTPUtils::createPostURLRequest(
        QStringLiteral("https://elsewhere.test/x"),
        {{QStringLiteral("kovraID"), QStringList{QStringLiteral("a@b.c")}},
         {QStringLiteral("password"), QStringList{QStringLiteral("s3cr3t")}},
         {QStringLiteral("fb_uha"), QStringList{QStringLiteral("s3cr3t")}},
         {QStringLiteral("name"), QStringLiteral("x y")}});
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->body.contains("s3cr3t"));
    EXPECT_TRUE(log.contains(QStringLiteral("kovraID[]=a@b.c&password[]=<redacted>&fb_uha[]=<redacted>&name=x%20y")));
    for (const QString &line : log.lines())
        EXPECT_FALSE(line.contains(QStringLiteral("s3cr3t"))) << qPrintable(line);
}

struct CheckCase {
    const char *name;
    QVariant value;
    bool valid;
};

TEST(KCHTTPUtilsIdentity, UUIDCheck)
{
    const CheckCase cases[] = {
        {"32 hex digits", kUUID, true},
        {"surrounded by white space and newlines", QStringLiteral("  \t") + kUUID + QStringLiteral(" \n"), true},
        {"31 characters", kUUID.left(31), false},
        {"33 characters", kUUID + QStringLiteral("0"), false},
        {"a character outside the hex digits", kUUID.left(31) + QStringLiteral("g"), false},
        {"white space inside", kUUID.left(16) + QStringLiteral(" ") + kUUID.mid(16, 15), false},
        {"a non-ASCII digit", kUUID.left(31) + QString(QChar(0x0663)), false},
        {"empty", QString(), false},
        {"a number", QVariant(qint64(12345678901234567)), false},
        {"none", QVariant(), false},
        {"a list holding it", QStringList{kUUID}, false},
    };
    for (const CheckCase &c : cases)
        EXPECT_EQ(KCHTTPUtils::isValidKovraConnectUUID(c.value), c.valid) << c.name;
}

TEST(KCHTTPUtilsIdentity, BundleIdentifierCheck)
{
    const CheckCase cases[] = {
        {"the application's", kBundleID, true},
        {"digits and padding", QStringLiteral(" 1.2 "), true},
        {"trailing newline trimmed", kBundleID + QStringLiteral("\n"), true},
        {"a single label", QStringLiteral("fendrel"), false},
        {"a label starting with a hyphen", QStringLiteral("com.-fendrel"), false},
        {"an empty label", QStringLiteral("a..b"), false},
        {"a trailing dot", QStringLiteral("com.fendrel."), false},
        {"an underscore", QStringLiteral("com.fendrel_app"), false},
        {"a non-ASCII letter", QStringLiteral("com.f\u00e9ndrel"), false},
        {"a newline inside", QStringLiteral("com.fendrel\nevil.example"), false},
        {"blank", QStringLiteral("   "), false},
        {"a number", QVariant(1.5), false},
        {"none", QVariant(), false},
    };
    for (const CheckCase &c : cases)
        EXPECT_EQ(KCHTTPUtils::isValidBundleIdentifier(c.value), c.valid) << c.name;
}

TEST(KCHTTPUtilsIdentity, ServerIdentityNeedsBoth)
{
    struct Case {
        const char *name;
        KCRequestParameters params;
        bool valid;
    } const cases[] = {
        {"both valid", {{QStringLiteral("UUID"), kUUID}, {QStringLiteral("bundleID"), kBundleID}}, true},
        {"UUID missing", {{QStringLiteral("bundleID"), kBundleID}}, false},
        {"bundleID missing", {{QStringLiteral("UUID"), kUUID}}, false},
        {"UUID a number", {{QStringLiteral("UUID"), 7}, {QStringLiteral("bundleID"), kBundleID}}, false},
        {"bundleID invalid", {{QStringLiteral("UUID"), kUUID}, {QStringLiteral("bundleID"), QStringLiteral("x")}}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KCHTTPUtils::isValidServerIdentityInParameters(c.params), c.valid) << c.name;
}

TEST(KCHTTPUtilsEscaping, CharacterSetsAllowExactlyTheirCharacters)
{
    const QString alphanumerics = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    auto allowed = [](const KCCharacterSet &set) {
        QString characters;
        for (char16_t c = 0; c < 128; ++c) {
            if (set.contains(QChar(c)))
                characters += QChar(c);
        }
        return characters;
    };
    auto sorted = [&](const QString &punctuation) {
        QString all = punctuation + alphanumerics;
        std::sort(all.begin(), all.end());
        return all;
    };
    EXPECT_EQ(allowed(KCCharacterSet::URLQueryAllowedCharacterSet()), sorted(QStringLiteral("!$&'()*+,-./:;=?@_~")));
    EXPECT_EQ(allowed(KCCharacterSet::URLHostAllowedCharacterSet()), sorted(QStringLiteral("!$&'()*+,-.:;=[]_~")));
    EXPECT_EQ(allowed(KCCharacterSet::URLParameterAllowedCharacterSet()), sorted(QStringLiteral("!$'()*,-.;@_~")));
    EXPECT_FALSE(KCCharacterSet::URLQueryAllowedCharacterSet().contains(QChar(0x00e9)));
}

TEST(KCHTTPUtilsEscaping, PercentEncodesEveryUTF8ByteInUpperCase)
{
    const KCCharacterSet set = KCCharacterSet::URLParameterAllowedCharacterSet();
    EXPECT_EQ(set.percentEncode(QStringLiteral("\u00e9\u20ac")), QStringLiteral("%C3%A9%E2%82%AC"));
    EXPECT_EQ(set.percentEncode(QString::fromUtf8("\xf0\x9f\x94\x91")), QStringLiteral("%F0%9F%94%91"));
    EXPECT_EQ(set.percentEncode(QStringLiteral("\n%\x7f")), QStringLiteral("%0A%25%7F"));
}

TEST(KCHTTPUtilsEscaping, EscapeCharacters)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("Tom & Jerry+"), QStringLiteral("Tom%20%26%20Jerry%2b")},
        {QStringLiteral("a=b:c[d];e"), QStringLiteral("a=b:c[d];e")},
        {QStringLiteral("50% off/now?"), QStringLiteral("50%25%20off%2Fnow%3F")},
        {QStringLiteral("J\u00fcrgen's laptop"), QStringLiteral("J%C3%BCrgen's%20laptop")},
        {QString(), QString()},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(KCHTTPUtils::escapeCharacters(input), expected) << qPrintable(input);
}

TEST(KCHTTPUtilsTrimming, LeavesThePasswordsOutAndTrimsTheRest)
{
    const KCRequestParameters trimmed = KCHTTPUtils::trimmedRequestParameters(
        {{QStringLiteral(" password "), QStringLiteral(" secret ")}, {QStringLiteral(" Alias "), QStringLiteral("  Home PC \n")}});
    EXPECT_EQ(trimmed.keys(), QStringList{QStringLiteral("Alias")});
    EXPECT_EQ(trimmed.value(QStringLiteral("Alias")), QStringLiteral("Home PC"));
}

TEST(KCHTTPUtilsTrimming, TrimsAtEveryDepthAndKeepsOrderAndKinds)
{
    const KCRequestParameters trimmed = KCHTTPUtils::trimmedRequestParameters({
        {QStringLiteral("z "), QVariantList{QStringLiteral(" a "), 5, dictionary({{QStringLiteral(" k "), QStringLiteral(" v ")},
                                                                                   {QStringLiteral("fb_uha"), QStringLiteral("x")}})}},
        {QStringLiteral("n"), 7},
        {QStringLiteral("names"), QStringList{QStringLiteral(" x\t")}},
        {QStringLiteral("m"), QVariantMap{{QStringLiteral(" q "), QStringLiteral(" r ")}, {QStringLiteral("password"), 1}}},
        {QStringLiteral("flag"), true},
    });
    const KCRequestParameters expected = {
        {QStringLiteral("z"), QVariantList{QStringLiteral("a"), 5, dictionary({{QStringLiteral("k"), QStringLiteral("v")}})}},
        {QStringLiteral("n"), 7},
        {QStringLiteral("names"), QStringList{QStringLiteral("x")}},
        {QStringLiteral("m"), QVariantMap{{QStringLiteral("q"), QStringLiteral("r")}}},
        {QStringLiteral("flag"), true},
    };
    EXPECT_EQ(trimmed, expected);
    EXPECT_EQ(trimmed.keys(), expected.keys());
    EXPECT_EQ(KCHTTPUtils::trimmedRequestParameter(QStringLiteral("\t x \n")), QStringLiteral("x"));
    EXPECT_EQ(KCHTTPUtils::trimmedRequestParameter(3.5), 3.5);
}

} // namespace
