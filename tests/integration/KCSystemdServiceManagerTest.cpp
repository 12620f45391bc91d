#include "KCSystemdServiceManager.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// The part of systemd's manager interface the daemon calls, answering as the test says. It runs
// on a thread of its own because the code under test blocks the main thread while it calls.
class FakeSystemdManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")

public:
    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    void setRefuseStop(bool refuse)
    {
        QMutexLocker lock(&m_mutex);
        m_refuseStop = refuse;
    }

public Q_SLOTS:
    QDBusObjectPath StopUnit(const QString &name, const QString &mode)
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(QStringLiteral("StopUnit %1 %2").arg(name, mode));
        if (m_refuseStop)
            sendErrorReply(QStringLiteral("org.freedesktop.systemd1.NoSuchUnit"), QStringLiteral("Unit %1 not loaded.").arg(name));
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1"));
    }
    void DisableUnitFiles(const QStringList &files, bool runtime)
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(QStringLiteral("DisableUnitFiles %1 %2").arg(files.join(QLatin1Char(',')), runtime ? QStringLiteral("runtime") : QStringLiteral("persistent")));
    }

private:
    mutable QMutex m_mutex;
    QStringList m_calls;
    bool m_refuseStop = false;
};

// A private message bus for the test, and systemd's name on it.
class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The session bus configuration lets anyone own any name; the socket is the test's own.
        daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                                                     QStringLiteral("--address=unix:path=") + QDir(dir.path()).filePath(QStringLiteral("bus"))});
        ASSERT_TRUE(daemon.waitForStarted(30000));
        while (!daemon.canReadLine() && daemon.state() == QProcess::Running)
            daemon.waitForReadyRead(30000);
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty()) << daemon.readAllStandardError().toStdString();

        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("fake-systemd"));
        ASSERT_TRUE(service.isConnected());
        fake.moveToThread(&thread);
        thread.start();
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/systemd1"), &fake, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.systemd1")));
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-systemd"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        thread.quit();
        thread.wait();
        daemon.kill();
        daemon.waitForFinished(30000);
    }
    QDBusConnection client() { return QDBusConnection::connectToBus(address, QStringLiteral("client")); }

    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    FakeSystemdManager fake;
    QThread thread;
};

} // namespace

TEST_F(PrivateBus, RemovingAJobStopsAndDisablesTheUnit)
{
    KCSystemdServiceManager manager(client());
    EXPECT_TRUE(manager.removeJob(QStringLiteral("old.service")));
    EXPECT_EQ(fake.calls(), (QStringList{QStringLiteral("StopUnit old.service replace"),
                                         QStringLiteral("DisableUnitFiles old.service persistent")}));
}

TEST_F(PrivateBus, UnitThatIsNotLoadedIsStillDisabled)
{
    fake.setRefuseStop(true);
    KCSystemdServiceManager manager(client());
    EXPECT_FALSE(manager.removeJob(QStringLiteral("old.service")));
    EXPECT_EQ(fake.calls().size(), 2);
}

TEST(KCSystemdServiceManager, NoBusMeansNoRemoval)
{
    KCSystemdServiceManager manager(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere")));
    EXPECT_FALSE(manager.removeJob(QStringLiteral("old.service")));
}

#include "KCSystemdServiceManagerTest.moc"
