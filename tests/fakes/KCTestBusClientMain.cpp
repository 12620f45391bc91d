#include "KCDBusValue.h"
#include "KCFakeBusPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <optional>

// A bus client for tests that need a caller in a process of its own, usually under another uid.
//   kc_test_bus_client [--repeat N] [--interactive] [--destination D] [--path P] [--interface I]
//                      METHOD [ARG...]
//   kc_test_bus_client --own NAME
// Arguments are typed: s:TEXT b:true x:NUMBER i:NUMBER u:NUMBER bigs:LENGTH (a string of that
// many characters) a{sv}:JSON-OBJECT bigsettings:LENGTH (a settings change holding a string of that
// length). The calls go out together without waiting for each other.
// Output: "connected UNIQUE-NAME", then per call "reply N ARG..." or "error N ERROR-NAME MESSAGE",
// then "done"; with --own "owned NAME" or "error 0 ERROR-NAME MESSAGE".
namespace {

std::optional<QVariant> parseArgument(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    const QString kind = text.left(colon);
    const QString value = text.mid(colon + 1);
    if (kind == QLatin1String("s"))
        return QVariant(value);
    if (kind == QLatin1String("b"))
        return QVariant(value == QLatin1String("true"));
    if (kind == QLatin1String("x"))
        return QVariant(value.toLongLong());
    if (kind == QLatin1String("i"))
        return QVariant(value.toInt());
    if (kind == QLatin1String("u"))
        return QVariant(value.toUInt());
    if (kind == QLatin1String("bigs"))
        return QVariant(QString(value.toInt(), QLatin1Char('x')));
    if (kind == QLatin1String("bigsettings"))
        return QVariant(QVariantMap{{QStringLiteral("KCDaemonSettingsHotKeys"), QString(value.toInt(), QLatin1Char('x'))}});
    if (kind == QLatin1String("a{sv}"))
        return QVariant(KCDBusValue::toDBus(QJsonDocument::fromJson(value.toUtf8()).object().toVariantMap()));
    return std::nullopt;
}

QString describe(const QVariant &value)
{
    const QVariant plain = KCDBusValue::fromDBus(value);
    if (plain.metaType().id() == QMetaType::QVariantMap)
        return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(plain.toMap())).toJson(QJsonDocument::Compact));
    return plain.toString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption repeat(QStringLiteral("repeat"), QStringLiteral("calls to send"), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption interactive(QStringLiteral("interactive"), QStringLiteral("allow interactive authorisation"));
    const QCommandLineOption destination(QStringLiteral("destination"), QStringLiteral("bus name"), QStringLiteral("name"),
                                         QStringLiteral("com.fendrel.kovra.connect"));
    const QCommandLineOption path(QStringLiteral("path"), QStringLiteral("object path"), QStringLiteral("path"),
                                  QStringLiteral("/com/fendrel/kovra/connect"));
    const QCommandLineOption interface(QStringLiteral("interface"), QStringLiteral("interface"), QStringLiteral("name"),
                                       QStringLiteral("com.fendrel.kovra.connect.HelperToolServer"));
    const QCommandLineOption own(QStringLiteral("own"), QStringLiteral("request a bus name"), QStringLiteral("name"));
    parser.addOptions({repeat, interactive, destination, path, interface, own});
    parser.process(app);

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        kcFakePrintLine(QStringLiteral("error 0 %1 %2").arg(bus.lastError().name(), bus.lastError().message()));
        return 1;
    }
    kcFakePrintLine(QStringLiteral("connected %1").arg(bus.baseService()));

    if (parser.isSet(own)) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            bus.interface()->registerService(parser.value(own), QDBusConnectionInterface::DontQueueService);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
            kcFakePrintLine(QStringLiteral("owned %1").arg(parser.value(own)));
        else
            kcFakePrintLine(QStringLiteral("error 0 %1 %2").arg(reply.error().name(), reply.error().message()));
        return 0;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        kcFakePrintLine(QStringLiteral("error 0 usage no method"));
        return 2;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(parser.value(destination), parser.value(path),
                                                       parser.value(interface), positional.takeFirst());
    for (const QString &text : std::as_const(positional)) {
        const std::optional<QVariant> argument = parseArgument(text);
        if (!argument) {
            kcFakePrintLine(QStringLiteral("error 0 usage bad argument %1").arg(text));
            return 2;
        }
        call << *argument;
    }
    call.setInteractiveAuthorizationAllowed(parser.isSet(interactive));

    const int calls = parser.value(repeat).toInt();
    int outstanding = calls;
    for (int n = 1; n <= calls; ++n) {
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 120000), &app);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &app, [watcher, n, &outstanding] {
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ErrorMessage) {
                kcFakePrintLine(QStringLiteral("error %1 %2 %3").arg(n).arg(reply.errorName(), reply.errorMessage()));
            } else {
                QStringList values;
                for (const QVariant &value : reply.arguments())
                    values.append(describe(value));
                kcFakePrintLine(QStringLiteral("reply %1 %2").arg(n).arg(values.join(QLatin1Char(' '))));
            }
            watcher->deleteLater();
            if (--outstanding == 0) {
                kcFakePrintLine(QStringLiteral("done"));
                QCoreApplication::quit();
            }
        });
    }
    return app.exec();
}
