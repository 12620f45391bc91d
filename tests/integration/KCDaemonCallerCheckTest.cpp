#include "KCFakePolkitControl.h"
#include "KCTestDaemonOnBus.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

const QString AccessDenied = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
const QString LimitsExceeded = QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded");
const QString InvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString ReadStatus = QStringLiteral("com.fendrel.kovra.connect.read-status");
const QString Manage = QStringLiteral("com.fendrel.kovra.connect.manage");
const QString Uninstall = QStringLiteral("com.fendrel.kovra.connect.uninstall");

struct Method {
    QStringList arguments;
    QString action;
    QString reply;
};

// Every method of the daemon, as the bus client calls it, with the action that guards it and the
// start of its reply line.
const std::vector<Method> &methods()
{
    static const std::vector<Method> all{
        {{QStringLiteral("getSettings")}, ReadStatus, QStringLiteral("reply 1 {")},
        {{QStringLiteral("getVersion")}, ReadStatus, QStringLiteral("reply 1 3.9.0")},
        {{QStringLiteral("queryPortMappingStatus")}, ReadStatus, QStringLiteral("reply 1 true {")},
        {{QStringLiteral("addKovraConnectAccount"), QStringLiteral("s:a@example.com"), QStringLiteral("s:secret")},
         Manage, QStringLiteral("reply 1 true a@example.com")},
        {{QStringLiteral("removeKovraConnectAccount"), QStringLiteral("s:a@example.com")}, Manage,
         QStringLiteral("reply 1 true a@example.com")},
        {{QStringLiteral("userSettingsChanged"), QStringLiteral("a{sv}:{\"KCDaemonSettingsUseSSH\":true}")}, Manage,
         QStringLiteral("reply 1 true")},
        {{QStringLiteral("uninstall")}, Uninstall, QStringLiteral("reply 1 true")},
    };
    return all;
}

qint64 uidOf(const std::optional<KCTestUser> &user)
{
    return user ? qint64(user->uid) : -1;
}

int countLines(const KCChildProcess &process, const QString &text)
{
    int count = 0;
    for (const QString &line : process.lines())
        count += line.contains(text) ? 1 : 0;
    return count;
}

class KCDaemonCallerCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to own the daemon's bus name and run callers as other users; run the tests "
                            "as root to include it";
        ASSERT_TRUE(nobody && otherUser) << "the users nobody and daemon are needed";
    }

    void startDaemon(bool withPolkit = true, KCDaemonCallerCheck::Limits limits = {})
    {
        daemon = std::make_unique<KCTestDaemonOnBus>(limits);
        QString error;
        ASSERT_TRUE(daemon->start(withPolkit, &error)) << error.toStdString();
        control = std::make_unique<KCFakePolkitControl>(daemon->bus.connect());
    }

    const std::optional<KCTestUser> nobody = KCPrivateSystemBus::testUser();
    const std::optional<KCTestUser> otherUser = KCPrivateSystemBus::secondTestUser();
    std::unique_ptr<KCTestDaemonOnBus> daemon;
    std::unique_ptr<KCFakePolkitControl> control;
};

TEST_F(KCDaemonCallerCheckTest, RootIsLetInWithoutAskingPolkit)
{
    startDaemon();
    EXPECT_EQ(daemon->callOnce({QStringLiteral("getVersion")}), QStringLiteral("reply 1 3.9.0"));
    EXPECT_TRUE(control->requests().isEmpty());
    EXPECT_EQ(daemon->operations.calls, QStringList{QStringLiteral("getVersion")});
}

TEST_F(KCDaemonCallerCheckTest, EachMethodIsLetInByItsOwnAction)
{
    startDaemon();
    for (const Method &method : methods()) {
        SCOPED_TRACE(method.arguments.first().toStdString());
        for (const QString &action : {ReadStatus, Manage, Uninstall})
            ASSERT_TRUE(control->setAnswer(action, uidOf(nobody), action == method.action ? QStringLiteral("allow")
                                                                                          : QStringLiteral("deny")));
        const QString answer = daemon->callOnce(method.arguments, nobody);
        EXPECT_TRUE(answer.startsWith(method.reply)) << answer.toStdString();
        EXPECT_EQ(daemon->operations.calls.value(daemon->operations.calls.size() - 1), method.arguments.first());
        const QVariantMap request = control->requests().last().toMap();
        EXPECT_EQ(request.value(QStringLiteral("action")).toString(), method.action);
        EXPECT_EQ(request.value(QStringLiteral("uid")).toLongLong(), uidOf(nobody));
    }
    // Nested values reach the operation as they were sent.
    EXPECT_EQ(daemon->operations.lastSettings, (QVariantMap{{QStringLiteral("KCDaemonSettingsUseSSH"), true}}));
}

TEST_F(KCDaemonCallerCheckTest, ARefusedCallerGetsAccessDeniedOnEveryCallAndNothingRuns)
{
    startDaemon();
    struct Case {
        const char *verdict;
        QString message;
    };
    const Case cases[] = {
        {"deny", QStringLiteral("Not authorized")},
        {"challenge", QStringLiteral("Authentication is required")},
        {"error", QStringLiteral("Could not check")},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(control->setAnswer(QString(), uidOf(nobody), QString::fromLatin1(c.verdict)));
        for (const Method &method : methods()) {
            SCOPED_TRACE(std::string(c.verdict) + " " + method.arguments.first().toStdString());
            const QString answer = daemon->callOnce(method.arguments, nobody);
            EXPECT_TRUE(answer.startsWith(QStringLiteral("error 1 ") + AccessDenied)) << answer.toStdString();
            EXPECT_TRUE(answer.contains(c.message)) << answer.toStdString();
        }
    }
    EXPECT_TRUE(daemon->operations.calls.isEmpty()) << daemon->operations.calls.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(daemon->listener->clients().clients().isEmpty());
}

TEST_F(KCDaemonCallerCheckTest, InteractiveAuthorizationIsAllowedOnlyWhenTheCallerAllowsIt)
{
    startDaemon();
    ASSERT_TRUE(control->setAnswer(QString(), -1, QStringLiteral("allow")));
    for (const bool interactive : {false, true}) {
        SCOPED_TRACE(interactive ? "interactive" : "plain");
        QStringList arguments{QStringLiteral("uninstall")};
        if (interactive)
            arguments.prepend(QStringLiteral("--interactive"));
        EXPECT_EQ(daemon->callOnce(arguments, nobody), QStringLiteral("reply 1 true"));
        EXPECT_EQ(control->requests().last().toMap().value(QStringLiteral("interactive")).toBool(), interactive);
    }
}

TEST_F(KCDaemonCallerCheckTest, ACallerThatLeavesBeforePolkitAnswersIsForgotten)
{
    startDaemon();
    ASSERT_TRUE(control->setAnswer(QString(), uidOf(nobody), QStringLiteral("never")));
    const auto caller = daemon->startClient({QStringLiteral("--interactive"), QStringLiteral("uninstall")}, nobody);
    ASSERT_TRUE(caller);
    ASSERT_TRUE(daemon->polkit->waitForLine(QStringLiteral("request ") + Uninstall));
    EXPECT_EQ(daemon->listener->callerCheck().pendingChecks(), 1);

    caller->kill();
    // The check is withdrawn from polkit, so an open authentication dialog goes away too.
    EXPECT_TRUE(daemon->polkit->waitForLine(QStringLiteral("cancelled ") + Uninstall));
    EXPECT_TRUE(QTest::qWaitFor([&] { return daemon->listener->callerCheck().pendingChecks() == 0; }, 30000));
    EXPECT_TRUE(daemon->operations.calls.isEmpty());
    EXPECT_TRUE(daemon->listener->clients().clients().isEmpty());
}

TEST_F(KCDaemonCallerCheckTest, WithoutPolkitOnlyRootIsLetIn)
{
    startDaemon(false);
    EXPECT_EQ(daemon->callOnce({QStringLiteral("getVersion")}), QStringLiteral("reply 1 3.9.0"));
    const QString refused = daemon->callOnce({QStringLiteral("getVersion")}, nobody);
    EXPECT_TRUE(refused.startsWith(QStringLiteral("error 1 ") + AccessDenied)) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("without polkit"))) << refused.toStdString();
    EXPECT_EQ(daemon->operations.calls, QStringList{QStringLiteral("getVersion")});
}

TEST_F(KCDaemonCallerCheckTest, OneCallerWaitingOnAPromptDoesNotHoldUpTheOthers)
{
    startDaemon();
    ASSERT_TRUE(control->setAnswer(QString(), uidOf(nobody), QStringLiteral("never")));
    ASSERT_TRUE(control->setAnswer(QString(), uidOf(otherUser), QStringLiteral("allow")));
    const auto waiting = daemon->startClient(
        {QStringLiteral("--interactive"), QStringLiteral("userSettingsChanged"), QStringLiteral("a{sv}:{}")}, nobody);
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(daemon->polkit->waitForLine(QStringLiteral("request ") + Manage));

    EXPECT_EQ(daemon->callOnce({QStringLiteral("getVersion")}, otherUser), QStringLiteral("reply 1 3.9.0"));
    EXPECT_EQ(daemon->callOnce({QStringLiteral("getVersion")}), QStringLiteral("reply 1 3.9.0"));
    EXPECT_EQ(countLines(*waiting, QStringLiteral(" 1 ")), 0);
    EXPECT_EQ(daemon->listener->callerCheck().pendingChecks(), 1);
}

TEST_F(KCDaemonCallerCheckTest, AFloodIsCutOffAtTheLimits)
{
    struct Case {
        const char *what;
        KCDaemonCallerCheck::Limits limits;
        int refusedFirst;
        int refusedSecond;
        QString thirdUser;
    };
    const Case cases[] = {
        {"per caller and per user", {4, 6, 64}, 6, 8, QStringLiteral("reply 1 3.9.0")},
        {"per caller and in all", {4, 100, 6}, 6, 8, QStringLiteral("error 1 ") + LimitsExceeded},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        startDaemon(true, c.limits);
        ASSERT_TRUE(control->setAnswer(QString(), uidOf(nobody), QStringLiteral("never")));
        ASSERT_TRUE(control->setAnswer(QString(), uidOf(otherUser), QStringLiteral("allow")));

        // Two connections of one user send ten calls each without waiting; the calls within the
        // limits wait on polkit for good, the others are refused at once.
        const auto first = daemon->startClient({QStringLiteral("--repeat"), QStringLiteral("10"), QStringLiteral("getVersion")}, nobody);
        ASSERT_TRUE(first);
        EXPECT_TRUE(QTest::qWaitFor([&] { return countLines(*first, LimitsExceeded) == c.refusedFirst; }, 30000))
            << first->lines().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return control->requests().size() == 10 - c.refusedFirst; }, 30000));

        const auto second = daemon->startClient({QStringLiteral("--repeat"), QStringLiteral("10"), QStringLiteral("getVersion")}, nobody);
        ASSERT_TRUE(second);
        EXPECT_TRUE(QTest::qWaitFor([&] { return countLines(*second, LimitsExceeded) == c.refusedSecond; }, 30000))
            << second->lines().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(daemon->listener->callerCheck().pendingChecks(), 20 - c.refusedFirst - c.refusedSecond);

        const QString third = daemon->callOnce({QStringLiteral("getVersion")}, otherUser);
        EXPECT_TRUE(third.startsWith(c.thirdUser)) << third.toStdString();
        EXPECT_EQ(countLines(*first, QStringLiteral("reply ")) + countLines(*second, QStringLiteral("reply ")), 0);
        daemon.reset();
    }
}

TEST_F(KCDaemonCallerCheckTest, OversizedAndMistypedArgumentsAreRefusedBeforeTheCheck)
{
    startDaemon();
    ASSERT_TRUE(control->setAnswer(QString(), -1, QStringLiteral("allow")));
    struct Case {
        const char *what;
        QStringList arguments;
        QString answer;
    };
    const QString limit = QString::number(KCDaemonHelperToolService::MaxStringLength);
    const QString overLimit = QString::number(KCDaemonHelperToolService::MaxStringLength + 1);
    const Case cases[] = {
        {"long account name", {QStringLiteral("addKovraConnectAccount"), QStringLiteral("bigs:") + overLimit, QStringLiteral("s:pw")},
         QStringLiteral("error 1 ") + InvalidArgs},
        {"long password", {QStringLiteral("addKovraConnectAccount"), QStringLiteral("s:a"), QStringLiteral("bigs:") + overLimit},
         QStringLiteral("error 1 ") + InvalidArgs},
        {"long account to remove", {QStringLiteral("removeKovraConnectAccount"), QStringLiteral("bigs:") + overLimit},
         QStringLiteral("error 1 ") + InvalidArgs},
        {"settings change over a megabyte", {QStringLiteral("userSettingsChanged"), QStringLiteral("bigsettings:600000")},
         QStringLiteral("error 1 ") + InvalidArgs},
        {"settings change of the wrong type", {QStringLiteral("userSettingsChanged"), QStringLiteral("s:KCDaemonSettingsUseSSH")},
         QStringLiteral("error 1 org.freedesktop.DBus.Error.UnknownMethod")},
        {"too many arguments", {QStringLiteral("getVersion"), QStringLiteral("s:extra")},
         QStringLiteral("error 1 org.freedesktop.DBus.Error.UnknownMethod")},
        {"an account name just at the limit", {QStringLiteral("addKovraConnectAccount"), QStringLiteral("bigs:") + limit, QStringLiteral("s:pw")},
         QStringLiteral("reply 1 true x")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString answer = daemon->callOnce(c.arguments, nobody);
        EXPECT_TRUE(answer.startsWith(c.answer)) << answer.left(200).toStdString();
    }
    EXPECT_EQ(control->requests().size(), 1);
    EXPECT_EQ(daemon->operations.calls, QStringList{QStringLiteral("addKovraConnectAccount")});
}

} // namespace
