#include "KCLogindSystemPower.h"

#include "KCLog.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {
const QString Service = QStringLiteral("org.freedesktop.login1");
const QString Path = QStringLiteral("/org/freedesktop/login1");
const QString Manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString Who = QStringLiteral("Kovra Connect");

void finish(std::vector<KCSystemPower::Completion> &waiting, const std::optional<KCError> &error)
{
    std::vector<KCSystemPower::Completion> completions;
    completions.swap(waiting);
    for (const auto &completion : completions)
        completion(error);
}
} // namespace

KCLogindSystemPower::KCLogindSystemPower(QDBusConnection bus, QObject *parent)
    : KCSystemPower(parent)
    , _bus(std::move(bus))
{
    _idle.what = QStringLiteral("idle");
    _idle.mode = QStringLiteral("block");
    _idle.why = QStringLiteral("Prevent sleep is on");
    _delay.what = QStringLiteral("sleep:shutdown");
    _delay.mode = QStringLiteral("delay");
    _delay.why = QStringLiteral("Telling the account service before the computer sleeps or stops");

    // Signals of a name that appears later (logind started after us) still arrive: the bus
    // connection follows the name's owner.
    _bus.connect(Service, Path, Manager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    _bus.connect(Service, Path, Manager, QStringLiteral("PrepareForShutdown"), this, SLOT(prepareForShutdown(bool)));
}

KCLogindSystemPower::~KCLogindSystemPower()
{
    _bus.disconnect(Service, Path, Manager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    _bus.disconnect(Service, Path, Manager, QStringLiteral("PrepareForShutdown"), this, SLOT(prepareForShutdown(bool)));
}

void KCLogindSystemPower::take(Lock &lock, Completion completion)
{
    lock.wanted = true;
    lock.waiting.push_back(std::move(completion));
    if (lock.taking)
        return;
    if (lock.descriptor.isValid()) {
        QMetaObject::invokeMethod(this, [this, &lock] { finish(lock.waiting, std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    lock.taking = true;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Manager, QStringLiteral("Inhibit"));
    call << lock.what << Who << lock.why << lock.mode;
    auto *watcher = new QDBusPendingCallWatcher(_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, &lock, watcher] {
        watcher->deleteLater();
        taken(lock, watcher->reply());
    });
}

void KCLogindSystemPower::taken(Lock &lock, const QDBusMessage &reply)
{
    lock.taking = false;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        finish(lock.waiting, KCError::withFailureReason(reply.errorName(), 0, reply.errorMessage()));
        return;
    }
    const QVariantList arguments = reply.arguments();
    const auto descriptor = arguments.isEmpty() ? QDBusUnixFileDescriptor()
                                                : arguments.first().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) {
        finish(lock.waiting, KCError::withFailureReason(QDBusError::errorString(QDBusError::InvalidSignature), 0,
                                                        QStringLiteral("Inhibit answered without a file descriptor")));
        return;
    }
    // Released while the take was under way: closing the descriptor lets the lock go at once.
    if (lock.wanted)
        lock.descriptor = descriptor;
    finish(lock.waiting, std::nullopt);
}

void KCLogindSystemPower::takeIdleInhibitor(Completion completion)
{
    take(_idle, std::move(completion));
}

void KCLogindSystemPower::releaseIdleInhibitor()
{
    _idle.wanted = false;
    _idle.descriptor = QDBusUnixFileDescriptor();
}

bool KCLogindSystemPower::holdsIdleInhibitor() const
{
    return _idle.descriptor.isValid();
}

void KCLogindSystemPower::takeDelayInhibitor(Completion completion)
{
    _delayRegistered = true;
    take(_delay, std::move(completion));
}

void KCLogindSystemPower::releaseDelayInhibitor()
{
    _delay.wanted = false;
    _delay.descriptor = QDBusUnixFileDescriptor();
}

bool KCLogindSystemPower::holdsDelayInhibitor() const
{
    return _delay.descriptor.isValid();
}

void KCLogindSystemPower::retakeDelayInhibitor()
{
    if (!_delayRegistered || _delay.descriptor.isValid())
        return;
    take(_delay, [](const std::optional<KCError> &error) {
        if (error)
            qCWarning(lcKC).noquote() << QStringLiteral("Could not take the sleep delay lock again: %1")
                                             .arg(error->localizedDescription());
    });
}

void KCLogindSystemPower::prepareForSleep(bool start)
{
    if (start) {
        Q_EMIT willSleep();
        return;
    }
    retakeDelayInhibitor();
    Q_EMIT didWake();
}

void KCLogindSystemPower::prepareForShutdown(bool start)
{
    if (start) {
        Q_EMIT willPowerOff();
        return;
    }
    // The shutdown was called off: the next sleep or shutdown needs the lock again.
    retakeDelayInhibitor();
}
