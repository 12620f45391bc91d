#include "KCFakeLogindControl.h"

#include "KCDBusValue.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {
QDBusMessage controlCall(const QString &member)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                          QStringLiteral("com.fendrel.kovra.connect.test.FakeLogind"), member);
}
constexpr int TransitionAnswerTimeoutMs = 60000;
} // namespace

KCFakeLogindControl::KCFakeLogindControl(QDBusConnection bus)
    : _bus(std::move(bus))
{
}

QVariantList KCFakeLogindControl::inhibitors()
{
    const QDBusMessage reply = _bus.call(controlCall(QStringLiteral("Inhibitors")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return KCDBusValue::fromDBus(reply.arguments().first()).toList();
}

QDBusPendingCall KCFakeLogindControl::suspend()
{
    return _bus.asyncCall(controlCall(QStringLiteral("Suspend")), TransitionAnswerTimeoutMs);
}

QDBusPendingCall KCFakeLogindControl::powerOff()
{
    return _bus.asyncCall(controlCall(QStringLiteral("PowerOff")), TransitionAnswerTimeoutMs);
}

bool KCFakeLogindControl::resume()
{
    return _bus.call(controlCall(QStringLiteral("Resume"))).type() == QDBusMessage::ReplyMessage;
}

bool KCFakeLogindControl::setInhibitDelayMax(uint milliseconds)
{
    QDBusMessage call = controlCall(QStringLiteral("SetInhibitDelayMax"));
    call << milliseconds;
    return _bus.call(call).type() == QDBusMessage::ReplyMessage;
}

QVariantMap KCFakeLogindControl::answerOf(QDBusPendingCall call)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return call.isFinished(); }, TransitionAnswerTimeoutMs));
    const QDBusPendingReply<QVariantMap> reply(call);
    EXPECT_FALSE(reply.isError()) << reply.error().message().toStdString();
    return reply.value();
}
