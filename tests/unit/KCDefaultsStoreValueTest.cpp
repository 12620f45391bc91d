#include "KCMemoryDefaultsStore.h"

#include <gtest/gtest.h>

TEST(KCDefaultsStore, IntegerForKeyReadsEveryKindLikeTheSettingsCodeExpects)
{
    KCMemoryDefaultsStore store;
    store.registerDefaults({{QStringLiteral("fallback"), 7}});
    const struct {
        const char *key;
        QVariant value;
        qint64 expected;
    } cases[] = {
        {"int", QVariant::fromValue(qint64(23456)), 23456},
        {"real", 12.9, 12},
        {"negativeReal", -3.7, -3},
        {"true", true, 1},
        {"string", QStringLiteral(" 42abc"), 42},
        {"garbage", QStringLiteral("abc"), 0},
        {"list", QVariantList{1, 2}, 0},
        {"huge", 1e300, std::numeric_limits<qint64>::max()},
    };
    for (const auto &c : cases) {
        store.setObject(c.value, QString::fromLatin1(c.key));
        EXPECT_EQ(store.integerForKey(QString::fromLatin1(c.key)), c.expected) << c.key;
    }
    EXPECT_EQ(store.integerForKey(QStringLiteral("fallback")), 7);
    EXPECT_EQ(store.integerForKey(QStringLiteral("absent")), 0);
}

TEST(KCDefaultsStore, FallbacksAnswerButAreNeverStored)
{
    KCMemoryDefaultsStore store;
    store.registerDefaults({{QStringLiteral("RouterInfo"), QStringLiteral("N/A")}});
    EXPECT_EQ(store.objectForKey(QStringLiteral("RouterInfo")), QVariant(QStringLiteral("N/A")));
    EXPECT_TRUE(store.storedValues().isEmpty());

    store.setObject(QStringLiteral("x"), QStringLiteral("RouterInfo"));
    store.removeObject(QStringLiteral("RouterInfo"));
    EXPECT_EQ(store.objectForKey(QStringLiteral("RouterInfo")), QVariant(QStringLiteral("N/A")));
}

TEST(KCDefaultsStore, NormalisesIntegersSoValuesCompareEqualWhateverMadeThem)
{
    const QVariant fromInt = KCValue::normalized(QVariantMap{{QStringLiteral("a"), QVariantList{int(5), 2.5f}}});
    const QVariant fromLong = QVariantMap{{QStringLiteral("a"), QVariantList{qint64(5), 2.5}}};
    EXPECT_EQ(fromInt, fromLong);
    EXPECT_TRUE(KCValue::isBool(KCValue::normalized(true)));
}
