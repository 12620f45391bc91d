#include "KCJSONReply.h"
#include "KCURLError.h"

#include <gtest/gtest.h>

TEST(KCJSONReply, ParsesAnyTopLevelValue)
{
    const std::pair<QByteArray, QVariant> cases[] = {
        {"1", QVariant(qint64(1))},
        {" -2.5e1 ", QVariant(-25.0)},
        {"\"x\"", QVariant(QStringLiteral("x"))},
        {"\t\r\ntrue\n", QVariant(true)},
        {"{\"a\":1,\"b\":[null]}", QVariantMap{{QStringLiteral("a"), 1}, {QStringLiteral("b"), QVariantList{QVariant::fromValue(nullptr)}}}},
        {"[1,\"2\"]", QVariantList{1, QStringLiteral("2")}},
        {"\"\\u00e9\"", QVariant(QStringLiteral("\u00e9"))},
    };
    for (const auto &[text, expected] : cases) {
        const KCJSONReply reply = KCJSONReply::parse(text);
        EXPECT_FALSE(reply.error) << text.constData();
        EXPECT_EQ(reply.value, expected) << text.constData();
    }
    const KCJSONReply null = KCJSONReply::parse("null");
    EXPECT_FALSE(null.error);
    EXPECT_TRUE(null.value.isValid()) << "JSON null is a value, not the absence of one";
}

TEST(KCJSONReply, RefusesWhatIsNotOneJSONValue)
{
    const QByteArray cases[] = {
        "", "   ", "1,2", "1]", "1][2", "1] [2", "]", "[", "[1,]", "{\"a\":1,}", "01", "+1", "'x'", "1 2", "nul",
        "NaN", "\"x", "{}garbage", "<html><body>500</body></html>", QByteArray("1\0", 2), "{\"a\"}", ",1",
    };
    for (const QByteArray &text : cases) {
        const KCJSONReply reply = KCJSONReply::parse(text);
        ASSERT_TRUE(reply.error) << text.constData();
        EXPECT_EQ(reply.error->domain, QStringLiteral("NSCocoaErrorDomain")) << text.constData();
        EXPECT_EQ(reply.error->code, 3840) << text.constData();
        EXPECT_FALSE(reply.value.isValid()) << text.constData();
    }
}
