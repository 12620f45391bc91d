#include "KCFakeBusPeer.h"
#include "KCFakeLogind.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    KCFakeLogind logind(bus);
    return kcFakeServe(app, bus, logind, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1"));
}
