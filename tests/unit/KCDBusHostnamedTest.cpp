#include "KCDBusHostnamed.h"
#include "KCFakeRouteWatch.h"
#include "KCFakeSystemInformationSources.h"
#include "KCLinuxDynamicStore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString hostnameService = QStringLiteral("org.freedesktop.hostname1");
const QString hostnamePath = QStringLiteral("/org/freedesktop/hostname1");

// A host-name service of the test's own: the two names hostnamed publishes, readable through
// the standard properties interface.
class HostnamePeer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.hostname1")
    Q_PROPERTY(QString PrettyHostname READ prettyHostname)
    Q_PROPERTY(QString Hostname READ hostname)
public:
    QString prettyHostname() const
    {
        QMutexLocker lock(&m_mutex);
        return m_pretty;
    }
    QString hostname() const { return QStringLiteral("anna-pc"); }
    void setPrettyHostname(const QString &name)
    {
        QMutexLocker lock(&m_mutex);
        m_pretty = name;
    }

private:
    mutable QMutex m_mutex;
    QString m_pretty;
};

// A private bus with the peer on it. The peer answers on a thread of its own, since the code
// under test calls the bus and waits for the answer on the main thread.
class KCDBusHostnamedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                           QStringLiteral("--address=unix:path=") + QDir(folder.path()).filePath(QStringLiteral("bus"))});
        ASSERT_TRUE(bus.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return bus.canReadLine(); }, 10000));
        address = QString::fromUtf8(bus.readLine()).trimmed();

        peerThread.start();
        peer.moveToThread(&peerThread);
        peer.setPrettyHostname(QStringLiteral("Anna's Laptop"));
        peerBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("kc-hostname-peer")));
        ASSERT_TRUE(peerBus->isConnected());
        ASSERT_TRUE(peerBus->registerObject(hostnamePath, &peer, QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(peerBus->registerService(hostnameService));
        clientBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("kc-hostname-client")));
        ASSERT_TRUE(clientBus->isConnected());
    }

    void TearDown() override
    {
        if (peerBus) {
            peerBus->unregisterObject(hostnamePath);
            QDBusConnection::disconnectFromBus(QStringLiteral("kc-hostname-peer"));
        }
        if (clientBus)
            QDBusConnection::disconnectFromBus(QStringLiteral("kc-hostname-client"));
        peerThread.quit();
        peerThread.wait();
        bus.kill();
        bus.waitForFinished();
    }

    // What hostnamed sends when a property changes.
    void announce(const QString &property, const QString &value)
    {
        if (property == QLatin1String("PrettyHostname"))
            peer.setPrettyHostname(value);
        QDBusMessage signal = QDBusMessage::createSignal(hostnamePath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << hostnameService << QVariantMap{{property, value}} << QStringList();
        ASSERT_TRUE(peerBus->send(signal));
    }

    QTemporaryDir folder;
    QProcess bus;
    QString address;
    QThread peerThread;
    HostnamePeer peer;
    std::unique_ptr<QDBusConnection> peerBus;
    std::unique_ptr<QDBusConnection> clientBus;
};

} // namespace

TEST_F(KCDBusHostnamedTest, ReadsAndFollowsThePrettyName)
{
    KCDBusHostnamed hostnamed(*clientBus);
    EXPECT_EQ(hostnamed.prettyHostname(), QStringLiteral("Anna's Laptop"));

    int announcements = 0;
    QObject::connect(&hostnamed, &KCHostnamed::prettyHostnameChanged, [&] { ++announcements; });
    announce(QStringLiteral("PrettyHostname"), QStringLiteral("Anna's Workstation"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return announcements == 1; }, 10000));
    EXPECT_EQ(hostnamed.prettyHostname(), QStringLiteral("Anna's Workstation"));

    announce(QStringLiteral("Hostname"), QStringLiteral("anna-ws"));
    announce(QStringLiteral("PrettyHostname"), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return announcements >= 2; }, 10000));
    // A call to the peer is answered after everything it sent before, so once the answer is in,
    // a signal the host-name change wrongly caused would be too.
    EXPECT_EQ(hostnamed.prettyHostname(), QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(announcements, 2) << "a change of another property is not a pretty-name change";

    ASSERT_TRUE(peerBus->unregisterService(hostnameService));
    EXPECT_EQ(hostnamed.prettyHostname(), std::nullopt) << "the service is gone";

    KCDBusHostnamed noBus(QDBusConnection(QStringLiteral("kc-no-such-connection")));
    EXPECT_EQ(noBus.prettyHostname(), std::nullopt);
}

TEST_F(KCDBusHostnamedTest, TheStoreReportsARenamedComputer)
{
    KCFakeSystemInformationSources routing;
    QFile hostnameFile(QDir(folder.path()).filePath(QStringLiteral("hostname")));
    ASSERT_TRUE(hostnameFile.open(QIODevice::WriteOnly));
    hostnameFile.write("anna-pc\n");
    hostnameFile.close();
    KCLinuxDynamicStore store(std::make_unique<KCDBusHostnamed>(*clientBus), routing, std::make_unique<KCFakeRouteWatch>(),
                              folder.path());
    EXPECT_EQ(store.computerName(), QStringLiteral("Anna's Laptop"));
    QList<KCDynamicStoreKeys> notifications;
    QObject::connect(&store, &KCDynamicStore::keysChanged, [&](KCDynamicStoreKeys keys) { notifications.append(keys); });

    announce(QStringLiteral("PrettyHostname"), QStringLiteral("Berit's Laptop"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifications.isEmpty(); }, 10000));
    EXPECT_EQ(notifications, QList<KCDynamicStoreKeys>{KCDynamicStoreKey::ComputerName});
    EXPECT_EQ(store.computerName(), QStringLiteral("Berit's Laptop"));
    EXPECT_EQ(store.localHostName(), QStringLiteral("anna-pc"));
}

#include "KCDBusHostnamedTest.moc"
