#include "KCFakeSystemPower.h"

#include <QMetaObject>

void KCFakeSystemPower::take(Lock &lock, Completion completion)
{
    lock.wanted = true;
    QMetaObject::invokeMethod(
        this,
        [this, &lock, completion = std::move(completion)] {
            if (!available) {
                completion(KCError::withFailureReason(QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"), 0,
                                                      QStringLiteral("The name org.freedesktop.login1 was not provided by any .service files")));
                return;
            }
            lock.held = lock.wanted;
            completion(std::nullopt);
        },
        Qt::QueuedConnection);
}

void KCFakeSystemPower::takeIdleInhibitor(Completion completion)
{
    ++idleTakes;
    take(_idle, std::move(completion));
}

void KCFakeSystemPower::releaseIdleInhibitor()
{
    _idle = Lock{};
}

void KCFakeSystemPower::takeDelayInhibitor(Completion completion)
{
    ++delayTakes;
    _delayEverTaken = true;
    take(_delay, std::move(completion));
}

void KCFakeSystemPower::releaseDelayInhibitor()
{
    ++delayReleases;
    _delay = Lock{};
    if (delayReleased)
        delayReleased();
}

void KCFakeSystemPower::announceWake()
{
    if (_delayEverTaken && !_delay.held)
        take(_delay, [](const std::optional<KCError> &) {});
    Q_EMIT didWake();
}
