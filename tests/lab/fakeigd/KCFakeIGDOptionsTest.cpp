#include "KCFakeIGDOptions.h"

#include <gtest/gtest.h>

TEST(KCFakeIGDOptions, RepliesAreCodesWithOptionalCounts)
{
    struct Case {
        const char *text;
        std::optional<QList<int>> replies;
    };
    const Case cases[] = {
        {"", QList<int>{}},
        {"718*3,0", QList<int>{718, 718, 718, 0}},
        {"606,725", QList<int>{606, 725}},
        {"0", QList<int>{0}},
        {"718*0", std::nullopt},
        {"718*2*2", std::nullopt},
        {"1000", std::nullopt},
        {"-1", std::nullopt},
        {"conflict", std::nullopt},
        {"718*many", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(KCFakeIGDOptions::parseReplies(QString::fromLatin1(c.text)), c.replies);
    }
}

TEST(KCFakeIGDOptions, RejectsWhatItCannotServe)
{
    const QStringList rejected[] = {
        {},
        {QStringLiteral("--listen=::1")},
        {QStringLiteral("--listen=gateway.lan")},
        {QStringLiteral("--listen=192.168.77.1"), QStringLiteral("--http-port=70000")},
        {QStringLiteral("--listen=192.168.77.1"), QStringLiteral("--description=gigantic")},
        {QStringLiteral("--listen=192.168.77.1"), QStringLiteral("--description=file:")},
        {QStringLiteral("--listen=192.168.77.1"), QStringLiteral("--add-replies=718*")},
    };
    for (const QStringList &arguments : rejected) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        QString error;
        EXPECT_FALSE(KCFakeIGDOptions::parse(arguments, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(KCFakeIGDOptions, LaterValuesOverrideTheLabsDefaults)
{
    QString error;
    const std::optional<KCFakeIGDOptions> options = KCFakeIGDOptions::parse(
        {QStringLiteral("--listen=192.168.77.1"), QStringLiteral("--external-ip=203.0.114.77"),
         QStringLiteral("--external-ip="), QStringLiteral("--add-replies=718*2"), QStringLiteral("--add-default=606")},
        &error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->externalIPAddress, QString());
    EXPECT_EQ(options->addReplies, (QList<int>{718, 718}));
    EXPECT_EQ(options->addDefault, 606);
    EXPECT_EQ(options->connectionStatus, QStringLiteral("Connected"));
}
