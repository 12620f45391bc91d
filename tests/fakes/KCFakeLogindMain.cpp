#include "KCFakeLogind.h"
#include "KCFakeOutput.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

// Owns org.freedesktop.login1 on the system bus named by DBUS_SYSTEM_BUS_ADDRESS.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    KCFakeLogind logind(bus);
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        kcFakePrintLine(QStringLiteral("failed %1").arg(bus.lastError().message()));
        return 1;
    }
    kcFakePrintLine(QStringLiteral("ready"));
    return app.exec();
}
