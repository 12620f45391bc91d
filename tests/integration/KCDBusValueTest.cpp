#include "KCDBusValue.h"
#include "KCErrorDBus.h"
#include "KCPrivateSystemBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

// Keeps the last call it received, as the bus delivered it.
class Receiver final : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        received = message;
        connection.send(message.createReply());
        return true;
    }
    std::optional<QDBusMessage> received;
};

// The signature a received value travelled with: the D-Bus type of a basic value, or the signature
// of a container Qt left unread.
QString wireSignature(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature();
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return QStringLiteral("b");
    case QMetaType::UShort:
        return QStringLiteral("q");
    case QMetaType::Int:
        return QStringLiteral("i");
    case QMetaType::UInt:
        return QStringLiteral("u");
    case QMetaType::LongLong:
        return QStringLiteral("x");
    case QMetaType::ULongLong:
        return QStringLiteral("t");
    case QMetaType::Double:
        return QStringLiteral("d");
    case QMetaType::QString:
        return QStringLiteral("s");
    case QMetaType::QByteArray:
        return QStringLiteral("ay");
    default:
        return QString::fromLatin1(value.metaType().name());
    }
}

class KCDBusValueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KCRegisterErrorDBusType();
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        receiving = bus.connect();
        sending = bus.connect();
        ASSERT_TRUE(receiving.registerVirtualObject(QStringLiteral("/receiver"), &receiver));
    }

    // Sends the arguments from one connection of this process to the other, and returns what
    // arrived.
    QVariantList send(const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(receiving.baseService(), QStringLiteral("/receiver"),
                                                           QStringLiteral("com.fendrel.kovra.connect.test.Values"),
                                                           QStringLiteral("take"));
        call.setArguments(arguments);
        // Both connections belong to this thread: the call must not block it.
        QDBusPendingCall pending = sending.asyncCall(call);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 30000));
        EXPECT_FALSE(pending.isError()) << pending.error().message().toStdString();
        return receiver.received ? receiver.received->arguments() : QVariantList{};
    }

    KCPrivateSystemBus bus{{}};
    QDBusConnection receiving{QString()};
    QDBusConnection sending{QString()};
    Receiver receiver;
};

TEST_F(KCDBusValueTest, EveryKindKeepsItsKindBothWays)
{
    struct Case {
        const char *kind;
        QVariant sent;
        QString signature;
        QVariant received;
    };
    const QVariantMap nested{{QStringLiteral("inner"), QVariantMap{{QStringLiteral("port"), QVariant::fromValue<quint16>(22)}}},
                             {QStringLiteral("list"), QVariantList{true, qint64(-5)}}};
    const Case cases[] = {
        {"bool", true, QStringLiteral("b"), true},
        {"qint64", qint64(1) << 40, QStringLiteral("x"), qint64(1) << 40},
        {"double", 2.5, QStringLiteral("d"), 2.5},
        {"port (quint16)", QVariant::fromValue<quint16>(5900), QStringLiteral("q"), QVariant::fromValue<quint16>(5900)},
        {"int", 7, QStringLiteral("i"), 7},
        {"float becomes double", QVariant::fromValue(1.5f), QStringLiteral("d"), 1.5},
        {"string", QStringLiteral("éa"), QStringLiteral("s"), QStringLiteral("éa")},
        {"data", QByteArray("\0\1", 2), QStringLiteral("ay"), QByteArray("\0\1", 2)},
        {"dictionary", nested, QStringLiteral("a{sv}"), nested},
        {"empty dictionary", QVariantMap{}, QStringLiteral("a{sv}"), QVariantMap{}},
        {"list of mixed kinds", QVariantList{QStringLiteral("a"), 1.0, QVariantMap{{QStringLiteral("k"), false}}},
         QStringLiteral("av"), QVariantList{QStringLiteral("a"), 1.0, QVariantMap{{QStringLiteral("k"), false}}}},
        {"list of lists", QVariantList{QVariantList{qint64(1)}, QVariantList{}}, QStringLiteral("av"),
         QVariantList{QVariantList{qint64(1)}, QVariantList{}}},
        {"string list becomes a list", QStringList{QStringLiteral("x"), QStringLiteral("y")}, QStringLiteral("av"),
         QVariantList{QStringLiteral("x"), QStringLiteral("y")}},
        {"hash becomes a dictionary", QVariantHash{{QStringLiteral("h"), qint64(3)}}, QStringLiteral("a{sv}"),
         QVariantMap{{QStringLiteral("h"), qint64(3)}}},
    };
    QVariantMap sent;
    for (const Case &c : cases)
        sent.insert(QString::fromLatin1(c.kind), c.sent);

    const QVariantList arrived = send({KCDBusValue::toDBus(sent)});
    ASSERT_EQ(arrived.size(), 1);
    // One level read, as Qt hands an a{sv} argument to a method: nested containers stay unread.
    const QVariantMap raw = qdbus_cast<QVariantMap>(arrived.first());
    const QVariantMap converted = KCDBusValue::fromDBus(raw);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        const QString key = QString::fromLatin1(c.kind);
        EXPECT_EQ(wireSignature(raw.value(key)), c.signature);
        const QVariant value = converted.value(key);
        EXPECT_EQ(value.metaType(), c.received.metaType()) << value.metaType().name();
        EXPECT_EQ(value, c.received);
    }
    // The nested values keep their kinds too, not just their values.
    const QVariantMap dictionary = converted.value(QStringLiteral("dictionary")).toMap();
    EXPECT_EQ(dictionary.value(QStringLiteral("inner")).toMap().value(QStringLiteral("port")).metaType(),
              QMetaType::fromType<quint16>());
    EXPECT_EQ(dictionary.value(QStringLiteral("list")).toList().value(1).metaType(), QMetaType::fromType<qint64>());
}

TEST_F(KCDBusValueTest, ValuesWithoutAWireFormAreLeftOutNotTheMessage)
{
    const QVariantMap sent{{QStringLiteral("kept"), QStringLiteral("yes")},
                           {QStringLiteral("empty"), QVariant()},
                           {QStringLiteral("date"), QDateTime::currentDateTimeUtc()},
                           {QStringLiteral("list"), QVariantList{QVariant(), qint64(2)}}};
    const QVariantList arrived = send({KCDBusValue::toDBus(sent)});
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_EQ(KCDBusValue::fromDBus(qdbus_cast<QVariantMap>(arrived.first())),
              (QVariantMap{{QStringLiteral("kept"), QStringLiteral("yes")}, {QStringLiteral("list"), QVariantList{qint64(2)}}}));
}

TEST_F(KCDBusValueTest, AnErrorTravelsAsDomainCodeAndUserInfo)
{
    struct Case {
        const char *what;
        KCError sent;
        KCError received;
    };
    const QVariantMap userInfo{{KCErrorFailureReasonKey, QStringLiteral("Password mismatch")},
                               {QStringLiteral("response"), QVariantMap{{QStringLiteral("status"), qint64(20)}}}};
    const Case cases[] = {
        {"account error", KCError{KCDaemonErrorDomain, 20, userInfo}, KCError{KCDaemonErrorDomain, 20, userInfo}},
        {"negative code", KCError{KCURLErrorDomain, -1001, {}}, KCError{KCURLErrorDomain, -1001, {}}},
        {"code beyond 32 bits is clamped", KCError{KCDaemonErrorDomain, qint64(1) << 40, {}},
         KCError{KCDaemonErrorDomain, 2147483647, {}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        receiver.received.reset();
        const QVariantList arrived = send({QVariant::fromValue(c.sent)});
        ASSERT_EQ(arrived.size(), 1);
        const QDBusArgument argument = arrived.first().value<QDBusArgument>();
        EXPECT_EQ(argument.currentSignature(), QStringLiteral("(sia{sv})"));
        EXPECT_EQ(qdbus_cast<KCError>(argument), c.received);
    }
}

} // namespace
