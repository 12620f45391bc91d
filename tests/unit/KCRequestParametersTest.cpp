#include "KCRequestParameters.h"

#include <gtest/gtest.h>

TEST(KCRequestParameters, KeepsInsertionOrderAndReplacesInPlace)
{
    KCRequestParameters params = {{QStringLiteral("b"), 1}, {QStringLiteral("a"), 2}};
    params.insert(QStringLiteral("c"), 3);
    params.insert(QStringLiteral("b"), 4);
    EXPECT_EQ(params.keys(), (QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c")}));
    EXPECT_EQ(params.value(QStringLiteral("b")), 4);
    params.remove(QStringLiteral("a"));
    EXPECT_EQ(params.keys(), (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_FALSE(params.value(QStringLiteral("a")).isValid());
}

TEST(KCRequestParameters, ComparesLikeADictionaryAtEveryDepth)
{
    auto nested = [](int value) {
        return QVariant::fromValue(KCRequestParameters{{QStringLiteral("x"), value}, {QStringLiteral("y"), 2}});
    };
    const KCRequestParameters a = {{QStringLiteral("k"), nested(1)}, {QStringLiteral("n"), 5}};
    const KCRequestParameters reordered = {{QStringLiteral("n"), qint64(5)}, {QStringLiteral("k"), nested(1)}};
    const KCRequestParameters deeperChange = {{QStringLiteral("k"), nested(9)}, {QStringLiteral("n"), 5}};
    const KCRequestParameters extraKey = {{QStringLiteral("k"), nested(1)}, {QStringLiteral("n"), 5}, {QStringLiteral("o"), 0}};
    EXPECT_EQ(a, reordered);
    EXPECT_NE(a, deeperChange);
    EXPECT_NE(a, extraKey);
    EXPECT_NE(extraKey, a);
}
