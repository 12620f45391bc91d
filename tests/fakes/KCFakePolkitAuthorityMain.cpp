#include "KCFakeBusPeer.h"
#include "KCFakePolkitAuthority.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    KCFakePolkitAuthority authority(bus);
    return kcFakeServe(app, bus, authority, QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                       QStringLiteral("org.freedesktop.PolicyKit1"));
}
