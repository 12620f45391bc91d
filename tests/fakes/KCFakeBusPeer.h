#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusVirtualObject>
#include <QString>

#include <cstdio>

// The fakes report what happens to them on standard output, one line per event, so a test can
// wait for the event instead of polling.
inline void kcFakePrintLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Serves the object at the path and owns the name on the system bus named by
// DBUS_SYSTEM_BUS_ADDRESS, prints "ready" and runs until killed.
inline int kcFakeServe(QCoreApplication &app, QDBusConnection bus, QDBusVirtualObject &object, const QString &path,
                       const QString &name)
{
    if (!bus.registerVirtualObject(path, &object) || !bus.registerService(name)) {
        kcFakePrintLine(QStringLiteral("failed %1").arg(bus.lastError().message()));
        return 1;
    }
    kcFakePrintLine(QStringLiteral("ready"));
    return app.exec();
}
