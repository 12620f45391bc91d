#include "KCDBusPolkitAuthority.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <chrono>

namespace {

const QString Service = QStringLiteral("org.freedesktop.PolicyKit1");
const QString Path = QStringLiteral("/org/freedesktop/PolicyKit1/Authority");
const QString Interface = QStringLiteral("org.freedesktop.PolicyKit1.Authority");

constexpr quint32 AllowUserInteraction = 0x1;

// polkit answers a plain check at once; a check that may open an authentication dialog waits for
// the person in front of it, but not forever.
constexpr std::chrono::milliseconds PlainCheckTimeout = std::chrono::seconds(25);
constexpr std::chrono::milliseconds InteractiveCheckTimeout = std::chrono::minutes(5);

QVariant systemBusNameSubject(const QString &busName)
{
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("system-bus-name") << QVariantMap{{QStringLiteral("name"), busName}};
    subject.endStructure();
    return QVariant::fromValue(subject);
}

QVariant noDetails()
{
    QDBusArgument details;
    details.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    details.endMap();
    return QVariant::fromValue(details);
}

KCPolkitAuthority::Answer answerFrom(const QDBusMessage &reply)
{
    using Result = KCPolkitAuthority::Result;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString error = reply.errorName();
        const bool absent = error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            || error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
        return {absent ? Result::Unavailable : Result::Error,
                QStringLiteral("%1: %2").arg(reply.errorName(), reply.errorMessage())};
    }
    const QVariantList arguments = reply.arguments();
    if (arguments.size() != 1 || reply.signature() != QLatin1String("(bba{ss})"))
        return {Result::Error, QStringLiteral("unexpected answer of signature %1").arg(reply.signature())};
    bool isAuthorized = false;
    bool isChallenge = false;
    const QDBusArgument result = arguments.first().value<QDBusArgument>();
    result.beginStructure();
    result >> isAuthorized >> isChallenge;
    result.endStructure();
    if (isAuthorized)
        return {Result::Authorized, {}};
    return {isChallenge ? Result::Challenge : Result::NotAuthorized, {}};
}

} // namespace

KCDBusPolkitAuthority::KCDBusPolkitAuthority(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , _bus(std::move(bus))
{
}

KCDBusPolkitAuthority::~KCDBusPolkitAuthority()
{
    while (!_pending.empty())
        cancelCheck(_pending.begin()->first);
}

KCPolkitAuthority::CheckId KCDBusPolkitAuthority::checkAuthorization(const QString &busName, const QString &actionId,
                                                                     bool allowInteraction, Completion completion)
{
    const CheckId check = ++_lastCheck;
    const QString cancellationId =
        QStringLiteral("kc-%1-%2").arg(QCoreApplication::applicationPid()).arg(check);

    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CheckAuthorization"));
    call << systemBusNameSubject(busName) << actionId << noDetails()
         << (allowInteraction ? AllowUserInteraction : quint32(0)) << cancellationId;
    const auto timeout = allowInteraction ? InteractiveCheckTimeout : PlainCheckTimeout;
    auto *watcher = new QDBusPendingCallWatcher(_bus.asyncCall(call, static_cast<int>(timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, check] { answered(check); });
    _pending.emplace(check, Pending{watcher, cancellationId, std::move(completion)});
    return check;
}

void KCDBusPolkitAuthority::answered(CheckId check)
{
    const auto it = _pending.find(check);
    if (it == _pending.end())
        return;
    Pending pending = std::move(it->second);
    _pending.erase(it);
    pending.watcher->deleteLater();
    pending.completion(answerFrom(pending.watcher->reply()));
}

void KCDBusPolkitAuthority::cancelCheck(CheckId check)
{
    const auto it = _pending.find(check);
    if (it == _pending.end())
        return;
    delete it->second.watcher;
    QDBusMessage cancel =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CancelCheckAuthorization"));
    cancel << it->second.cancellationId;
    _bus.send(cancel);
    _pending.erase(it);
}
