#include "KCFakeLogind.h"

#include "KCFakeBusPeer.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariantList>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString Path = QStringLiteral("/org/freedesktop/login1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString TestInterface = QStringLiteral("com.fendrel.kovra.connect.test.FakeLogind");
} // namespace

KCFakeLogind::KCFakeLogind(QDBusConnection bus)
    : _bus(std::move(bus))
{
}

KCFakeLogind::~KCFakeLogind()
{
    for (const auto &inhibitor : _inhibitors) {
        if (inhibitor->open())
            ::close(inhibitor->readEnd);
    }
}

QString KCFakeLogind::introspect(const QString &) const
{
    return {};
}

bool KCFakeLogind::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    const QString interface = message.interface();
    const QString member = message.member();
    if (interface == ManagerInterface && member == QLatin1String("Inhibit") && message.signature() == QLatin1String("ssss")) {
        inhibit(message);
        return true;
    }
    if (interface != TestInterface)
        return false;
    if (member == QLatin1String("Inhibitors")) {
        QVariantList inhibitors;
        for (const auto &inhibitor : _inhibitors) {
            inhibitors.append(QVariantMap{{QStringLiteral("what"), inhibitor->what},
                                          {QStringLiteral("who"), inhibitor->who},
                                          {QStringLiteral("why"), inhibitor->why},
                                          {QStringLiteral("mode"), inhibitor->mode},
                                          {QStringLiteral("uid"), inhibitor->uid},
                                          {QStringLiteral("open"), inhibitor->open()}});
        }
        _bus.send(message.createReply(QVariant(inhibitors)));
        return true;
    }
    if (member == QLatin1String("Suspend")) {
        announce(message, QStringLiteral("PrepareForSleep"), QStringLiteral("sleep"));
        return true;
    }
    if (member == QLatin1String("PowerOff")) {
        announce(message, QStringLiteral("PrepareForShutdown"), QStringLiteral("shutdown"));
        return true;
    }
    if (member == QLatin1String("Resume")) {
        QDBusMessage signal = QDBusMessage::createSignal(Path, ManagerInterface, QStringLiteral("PrepareForSleep"));
        signal << false;
        _bus.send(signal);
        _bus.send(message.createReply());
        return true;
    }
    if (member == QLatin1String("SetInhibitDelayMax") && message.signature() == QLatin1String("u")) {
        _inhibitDelayMaxMs = static_cast<int>(message.arguments().at(0).toUInt());
        _bus.send(message.createReply());
        return true;
    }
    return false;
}

void KCFakeLogind::inhibit(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    auto inhibitor = std::make_unique<Inhibitor>();
    inhibitor->what = arguments.at(0).toString();
    inhibitor->who = arguments.at(1).toString();
    inhibitor->why = arguments.at(2).toString();
    inhibitor->mode = arguments.at(3).toString();
    const QDBusReply<uint> uid = _bus.interface()->serviceUid(message.service());
    inhibitor->uid = uid.isValid() ? qint64(uid.value()) : -1;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        _bus.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no pipe")));
        return;
    }
    inhibitor->readEnd = ends[0];
    {
        // The reply carries its own copy of the write end; ours goes at once, so the read end sees
        // the end of the file exactly when the holder closes its copy.
        const QDBusUnixFileDescriptor writeEnd(ends[1]);
        ::close(ends[1]);
        _bus.send(message.createReply(QVariant::fromValue(writeEnd)));
    }
    Inhibitor *raw = inhibitor.get();
    inhibitor->notifier = std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read);
    connect(inhibitor->notifier.get(), &QSocketNotifier::activated, this, [this, raw] { lockClosed(*raw); });
    kcFakePrintLine(QStringLiteral("inhibit %1 %2 %3").arg(raw->what, raw->mode, raw->who));
    _inhibitors.push_back(std::move(inhibitor));
}

void KCFakeLogind::lockClosed(Inhibitor &inhibitor)
{
    char byte;
    if (::read(inhibitor.readEnd, &byte, 1) != 0)
        return;
    inhibitor.notifier->setEnabled(false);
    ::close(inhibitor.readEnd);
    inhibitor.readEnd = -1;
    kcFakePrintLine(QStringLiteral("released %1 %2 %3").arg(inhibitor.what, inhibitor.mode, inhibitor.who));
    proceedIfReleased();
}

int KCFakeLogind::openDelayLocks(const QString &what) const
{
    int count = 0;
    for (const auto &inhibitor : _inhibitors) {
        if (inhibitor->open() && inhibitor->mode == QLatin1String("delay")
            && inhibitor->what.split(QLatin1Char(':')).contains(what))
            ++count;
    }
    return count;
}

void KCFakeLogind::announce(const QDBusMessage &call, const QString &signalName, const QString &what)
{
    if (_transition) {
        _bus.send(call.createErrorReply(QDBusError::Failed, QStringLiteral("a transition is under way")));
        return;
    }
    call.setDelayedReply(true);
    _transition = std::make_unique<Transition>();
    _transition->call = call;
    _transition->what = what;
    _transition->delayLocks = openDelayLocks(what);
    _transition->deadline = std::make_unique<QTimer>();
    _transition->deadline->setSingleShot(true);
    connect(_transition->deadline.get(), &QTimer::timeout, this, [this] { proceed(false); });
    _transition->deadline->start(_inhibitDelayMaxMs);

    QDBusMessage signal = QDBusMessage::createSignal(Path, ManagerInterface, signalName);
    signal << true;
    _bus.send(signal);
    proceedIfReleased();
}

void KCFakeLogind::proceedIfReleased()
{
    if (_transition && openDelayLocks(_transition->what) == 0)
        proceed(true);
}

void KCFakeLogind::proceed(bool released)
{
    const std::unique_ptr<Transition> transition = std::move(_transition);
    _bus.send(transition->call.createReply(QVariant(QVariantMap{{QStringLiteral("delayLocks"), transition->delayLocks},
                                                                {QStringLiteral("released"), released}})));
}
