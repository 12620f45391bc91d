#include "KCFakePolkitAuthority.h"

#include "KCFakeBusPeer.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QTimer>

namespace {
const QString AuthorityInterface = QStringLiteral("org.freedesktop.PolicyKit1.Authority");
const QString TestInterface = QStringLiteral("com.fendrel.kovra.connect.test.FakePolkit");
const QString CancelledError = QStringLiteral("org.freedesktop.PolicyKit1.Error.Cancelled");
const QString FailedError = QStringLiteral("org.freedesktop.PolicyKit1.Error.Failed");

QVariant authorizationResult(bool isAuthorized, bool isChallenge)
{
    QDBusArgument result;
    result.beginStructure();
    result << isAuthorized << isChallenge;
    result.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    result.endMap();
    result.endStructure();
    return QVariant::fromValue(result);
}
} // namespace

KCFakePolkitAuthority::KCFakePolkitAuthority(QDBusConnection bus)
    : _bus(std::move(bus))
{
}

QString KCFakePolkitAuthority::introspect(const QString &) const
{
    return {};
}

bool KCFakePolkitAuthority::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    const QString interface = message.interface();
    const QString member = message.member();
    if (interface == AuthorityInterface && member == QLatin1String("CheckAuthorization")) {
        checkAuthorization(message);
        return true;
    }
    if (interface == AuthorityInterface && member == QLatin1String("CancelCheckAuthorization")) {
        cancelCheckAuthorization(message);
        return true;
    }
    if (interface == TestInterface && member == QLatin1String("SetAnswer") && message.signature() == QLatin1String("sisu")) {
        const QVariantList arguments = message.arguments();
        _rules[{arguments.at(0).toString(), arguments.at(1).toInt()}] =
            Rule{arguments.at(2).toString(), arguments.at(3).toUInt()};
        _bus.send(message.createReply());
        return true;
    }
    if (interface == TestInterface && member == QLatin1String("Requests")) {
        QVariantList requests;
        for (const Request &request : _requests) {
            requests.append(QVariantMap{{QStringLiteral("action"), request.action},
                                        {QStringLiteral("busName"), request.busName},
                                        {QStringLiteral("uid"), request.uid},
                                        {QStringLiteral("interactive"), request.interactive},
                                        {QStringLiteral("cancelled"), request.cancelled}});
        }
        _bus.send(message.createReply(QVariant(requests)));
        return true;
    }
    return false;
}

KCFakePolkitAuthority::Rule KCFakePolkitAuthority::ruleFor(const QString &action, qint64 uid) const
{
    for (const auto &key : {std::pair{action, uid}, std::pair{action, qint64(-1)}, std::pair{QString(), uid},
                            std::pair{QString(), qint64(-1)}}) {
        const auto it = _rules.find(key);
        if (it != _rules.end())
            return it->second;
    }
    return {};
}

void KCFakePolkitAuthority::checkAuthorization(const QDBusMessage &message)
{
    if (message.signature() != QLatin1String("(sa{sv})sa{ss}us")) {
        _bus.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("bad signature")));
        return;
    }
    const QVariantList arguments = message.arguments();
    QString kind;
    QVariantMap details;
    const QDBusArgument subject = arguments.at(0).value<QDBusArgument>();
    subject.beginStructure();
    subject >> kind >> details;
    subject.endStructure();

    Request request;
    request.action = arguments.at(1).toString();
    request.busName = details.value(QStringLiteral("name")).toString();
    request.interactive = (arguments.at(3).toUInt() & 0x1) != 0;
    request.cancellationId = arguments.at(4).toString();
    request.sender = message.service();
    request.call = message;
    message.setDelayedReply(true);
    if (kind != QLatin1String("system-bus-name")) {
        _bus.send(message.createErrorReply(FailedError, QStringLiteral("only system-bus-name subjects")));
        return;
    }
    // Like polkit, find out who is behind the name from the bus itself.
    const QDBusReply<uint> uid = _bus.interface()->serviceUid(request.busName);
    if (!uid.isValid()) {
        _bus.send(message.createErrorReply(FailedError, uid.error().message()));
        return;
    }
    request.uid = uid.value();

    const Rule rule = ruleFor(request.action, request.uid);
    kcFakePrintLine(QStringLiteral("request %1 %2 %3 %4")
                        .arg(request.action)
                        .arg(request.uid)
                        .arg(request.busName, request.interactive ? QStringLiteral("interactive") : QStringLiteral("plain")));
    _requests.push_back(std::move(request));
    const size_t index = _requests.size() - 1;
    if (rule.verdict == QLatin1String("never"))
        return;
    if (rule.delayMs == 0)
        answer(index, rule.verdict);
    else
        QTimer::singleShot(rule.delayMs, this, [this, index, verdict = rule.verdict] { answer(index, verdict); });
}

void KCFakePolkitAuthority::answer(size_t index, const QString &verdict)
{
    Request &request = _requests.at(index);
    if (request.answered)
        return;
    request.answered = true;
    if (verdict == QLatin1String("error")) {
        _bus.send(request.call.createErrorReply(FailedError, QStringLiteral("scripted failure")));
        return;
    }
    const bool allow = verdict == QLatin1String("allow");
    const bool challenge = verdict == QLatin1String("challenge");
    _bus.send(request.call.createReply(authorizationResult(allow, challenge)));
}

void KCFakePolkitAuthority::cancelCheckAuthorization(const QDBusMessage &message)
{
    const QString cancellationId = message.arguments().value(0).toString();
    for (Request &request : _requests) {
        if (request.answered || request.sender != message.service() || request.cancellationId != cancellationId)
            continue;
        request.answered = true;
        request.cancelled = true;
        kcFakePrintLine(QStringLiteral("cancelled %1 %2").arg(request.action).arg(request.uid));
        _bus.send(request.call.createErrorReply(CancelledError, QStringLiteral("cancelled by the caller")));
    }
    if (message.isReplyRequired())
        _bus.send(message.createReply());
}
