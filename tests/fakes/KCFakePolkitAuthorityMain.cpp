#include "KCFakeOutput.h"
#include "KCFakePolkitAuthority.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

// Owns org.freedesktop.PolicyKit1 on the system bus named by DBUS_SYSTEM_BUS_ADDRESS.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    KCFakePolkitAuthority authority(bus);
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), &authority)
        || !bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1"))) {
        kcFakePrintLine(QStringLiteral("failed %1").arg(bus.lastError().message()));
        return 1;
    }
    kcFakePrintLine(QStringLiteral("ready"));
    return app.exec();
}
