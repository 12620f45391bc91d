#include "KCDBusPolkitAuthority.h"
#include "KCFakePolkitControl.h"
#include "KCPrivateSystemBus.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Result = KCPolkitAuthority::Result;
const QString Action = QStringLiteral("com.fendrel.kovra.connect.manage");

class KCDBusPolkitAuthorityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        connection = bus.connect();
        caller = bus.connect();
        ASSERT_TRUE(connection.isConnected());
        ASSERT_TRUE(caller.isConnected());
    }

    // Asks about the caller connection and waits for the answer.
    std::optional<KCPolkitAuthority::Answer> ask(KCDBusPolkitAuthority &authority, bool allowInteraction)
    {
        std::optional<KCPolkitAuthority::Answer> answer;
        authority.checkAuthorization(caller.baseService(), Action, allowInteraction,
                                     [&](const KCPolkitAuthority::Answer &a) { answer = a; });
        EXPECT_FALSE(answer) << "answered within the call";
        EXPECT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 30000));
        return answer;
    }

    KCPrivateSystemBus bus;
    QDBusConnection connection{QString()};
    QDBusConnection caller{QString()};
};

TEST_F(KCDBusPolkitAuthorityTest, AnswersAsPolkitSaysAboutTheCallersBusName)
{
    const auto polkit = bus.startFakePolkit();
    ASSERT_TRUE(polkit);
    KCFakePolkitControl control(connection);
    KCDBusPolkitAuthority authority(connection);

    struct Case {
        const char *verdict;
        uint delayMs;
        bool allowInteraction;
        Result expected;
    };
    const Case cases[] = {
        {"allow", 0, false, Result::Authorized},
        {"allow", 0, true, Result::Authorized},
        {"allow after a while", 300, true, Result::Authorized},
        {"deny", 0, false, Result::NotAuthorized},
        {"challenge", 0, false, Result::Challenge},
        {"error", 0, true, Result::Error},
    };
    int asked = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.verdict) + (c.allowInteraction ? " interactive" : " plain"));
        const QString verdict = QString::fromLatin1(c.verdict).section(QLatin1Char(' '), 0, 0);
        ASSERT_TRUE(control.setAnswer(Action, ::geteuid(), verdict, c.delayMs));
        const auto answer = ask(authority, c.allowInteraction);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->result, c.expected);
        EXPECT_EQ(answer->errorMessage.isEmpty(), c.expected != Result::Error);

        const QVariantList requests = control.requests();
        ASSERT_EQ(requests.size(), ++asked);
        const QVariantMap request = requests.last().toMap();
        EXPECT_EQ(request.value(QStringLiteral("busName")).toString(), caller.baseService());
        EXPECT_EQ(request.value(QStringLiteral("action")).toString(), Action);
        EXPECT_EQ(request.value(QStringLiteral("interactive")).toBool(), c.allowInteraction);
        EXPECT_EQ(request.value(QStringLiteral("uid")).toLongLong(), qint64(::geteuid()));
    }
}

TEST_F(KCDBusPolkitAuthorityTest, NoPolkitOnTheBusIsToldApartFromAnError)
{
    KCDBusPolkitAuthority authority(connection);
    const auto answer = ask(authority, false);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->result, Result::Unavailable);
    EXPECT_TRUE(answer->errorMessage.contains(QStringLiteral("ServiceUnknown"))) << answer->errorMessage.toStdString();
}

TEST_F(KCDBusPolkitAuthorityTest, ACancelledCheckIsWithdrawnAndNeverAnswered)
{
    const auto polkit = bus.startFakePolkit();
    ASSERT_TRUE(polkit);
    KCFakePolkitControl control(connection);
    ASSERT_TRUE(control.setAnswer(QString(), -1, QStringLiteral("never")));
    KCDBusPolkitAuthority authority(connection);

    bool answered = false;
    const auto check = authority.checkAuthorization(caller.baseService(), Action, true,
                                                    [&](const KCPolkitAuthority::Answer &) { answered = true; });
    ASSERT_TRUE(polkit->waitForLine(QStringLiteral("request ")));
    authority.cancelCheck(check);
    ASSERT_TRUE(polkit->waitForLine(QStringLiteral("cancelled ")));

    // polkit answers a withdrawn check with an error; once a later call on the same connection is
    // back, that answer has been handled too.
    QDBusPendingCall later = connection.asyncCall(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.PolicyKit1"), QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
        QStringLiteral("com.fendrel.kovra.connect.test.FakePolkit"), QStringLiteral("Requests")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.isFinished(); }, 30000));
    EXPECT_FALSE(answered);
    EXPECT_TRUE(control.requests().value(0).toMap().value(QStringLiteral("cancelled")).toBool());
}

} // namespace
