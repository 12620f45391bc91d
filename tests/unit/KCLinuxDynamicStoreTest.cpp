#include "KCFakeHostnamed.h"
#include "KCFakeRouteWatch.h"
#include "KCFakeSystemInformationSources.h"
#include "KCFakeTimerSource.h"
#include "KCLinuxDynamicStore.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const KCGlobalIPv4State homeRouter{QStringLiteral("192.168.1.1"), QStringLiteral("eth0"), 2};
const KCGlobalIPv4State phoneHotspot{QStringLiteral("172.20.10.1"), QStringLiteral("wlan0"), 3};

// A store on fakes: a host-name service, a route watch and routing table the test drives, a
// temporary folder in place of /etc, and a clock that moves only when told.
class KCLinuxDynamicStoreTest : public ::testing::Test {
protected:
    void start(const std::optional<QString> &pretty, const std::optional<QByteArray> &hostnameFile)
    {
        if (hostnameFile)
            replaceHostname(*hostnameFile);
        auto ownedHostnamed = std::make_unique<KCFakeHostnamed>();
        hostnamed = ownedHostnamed.get();
        hostnamed->pretty = pretty;
        auto ownedWatch = std::make_unique<KCFakeRouteWatch>();
        routeWatch = ownedWatch.get();
        store = std::make_unique<KCLinuxDynamicStore>(std::move(ownedHostnamed), routing, std::move(ownedWatch), folder.path(), timers);
        QObject::connect(store.get(), &KCDynamicStore::keysChanged, [this](KCDynamicStoreKeys keys) { notifications.append(keys); });
        QObject::connect(store.get(), &KCLinuxDynamicStore::settled, [this] { ++settles; });
    }

    QString hostnamePath() const { return QDir(folder.path()).filePath(QStringLiteral("hostname")); }

    // As editors and hostnamectl do: a new file renamed over the old one.
    void replaceHostname(const QByteArray &contents)
    {
        QSaveFile file(hostnamePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        ASSERT_TRUE(file.commit());
    }

    // Waits until the folder watch has told the store and the store has armed its settling time.
    bool waitForSettling() { return QTest::qWaitFor([this] { return timers.activeTimerCount() > 0; }, 10000); }

    QTemporaryDir folder;
    KCFakeSystemInformationSources routing;
    KCFakeTimerSource timers;
    KCFakeHostnamed *hostnamed = nullptr;
    KCFakeRouteWatch *routeWatch = nullptr;
    std::unique_ptr<KCLinuxDynamicStore> store;
    QList<KCDynamicStoreKeys> notifications;
    int settles = 0;
};

} // namespace

TEST_F(KCLinuxDynamicStoreTest, ReadsTheNamesAtStart)
{
    struct Case {
        const char *what;
        std::optional<QString> pretty;
        std::optional<QByteArray> hostnameFile;
        std::optional<QString> computerName;
        std::optional<QString> localHostName;
    };
    const QList<Case> cases = {
        {"pretty name and static name", QStringLiteral("Anna's Laptop"), QByteArray("anna-pc.example.org\n"),
         QStringLiteral("Anna's Laptop"), QStringLiteral("anna-pc")},
        {"no pretty name set", QString(), QByteArray("anna-pc\n"), QStringLiteral("anna-pc"), QStringLiteral("anna-pc")},
        {"no host-name service", std::nullopt, QByteArray("anna-pc.example.org"), QStringLiteral("anna-pc.example.org"),
         QStringLiteral("anna-pc")},
        {"comments and blank lines before the name", std::nullopt, QByteArray("# set at install\n\n  anna-pc  \n"),
         QStringLiteral("anna-pc"), QStringLiteral("anna-pc")},
        {"no hostname file", QStringLiteral("Anna's Laptop"), std::nullopt, QStringLiteral("Anna's Laptop"), std::nullopt},
        {"nothing at all", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {"a line that is no host name", std::nullopt, QByteArray("anna pc\n"), std::nullopt, std::nullopt},
        {"a name that starts with a dot has no first label", std::nullopt, QByteArray(".example.org\n"),
         QStringLiteral(".example.org"), std::nullopt},
    };
    for (const Case &c : cases) {
        QFile::remove(hostnamePath());
        start(c.pretty, c.hostnameFile);
        EXPECT_EQ(store->computerName(), c.computerName) << c.what;
        EXPECT_EQ(store->localHostName(), c.localHostName) << c.what;
    }
}

TEST_F(KCLinuxDynamicStoreTest, ABurstOfRouteEventsGivesOneNotificationOnceItSettles)
{
    routing.defaultRoute = homeRouter;
    start(QStringLiteral("Anna's Laptop"), QByteArray("anna-pc\n"));
    EXPECT_EQ(store->globalIPv4State(), homeRouter);
    const int namesRead = hostnamed->reads;

    routing.defaultRoute = phoneHotspot;
    for (int i = 0; i < 5; ++i)
        routeWatch->fire();
    timers.advance(KCLinuxDynamicStore::settleTime - 1ms);
    EXPECT_TRUE(notifications.isEmpty());
    EXPECT_EQ(store->globalIPv4State(), homeRouter) << "reads answer what was last reported";
    timers.advance(1ms);
    EXPECT_EQ(notifications, QList<KCDynamicStoreKeys>{KCDynamicStoreKey::GlobalIPv4});
    EXPECT_EQ(store->globalIPv4State(), phoneHotspot);
    EXPECT_EQ(settles, 1);
    EXPECT_EQ(hostnamed->reads, namesRead) << "route events do not ask the host-name service";

    // Events that change nothing the store reports (an address elsewhere, a link flapping).
    routeWatch->fire();
    timers.advance(KCLinuxDynamicStore::settleTime);
    EXPECT_EQ(notifications.size(), 1);
    EXPECT_EQ(settles, 2);

    // Events that keep coming do not hold the notification back.
    routing.defaultRoute.reset();
    routeWatch->fire();
    timers.advance(60ms);
    routeWatch->fire();
    timers.advance(40ms);
    EXPECT_EQ(notifications.size(), 2);
    EXPECT_EQ(store->globalIPv4State(), std::nullopt);

    // The interface index alone changing is a change: the interface was made anew.
    routing.defaultRoute = KCGlobalIPv4State{QStringLiteral("192.168.1.1"), QStringLiteral("eth0"), 7};
    routeWatch->fire();
    timers.advance(KCLinuxDynamicStore::settleTime);
    routing.defaultRoute = KCGlobalIPv4State{QStringLiteral("192.168.1.1"), QStringLiteral("eth0"), 8};
    routeWatch->fire();
    timers.advance(KCLinuxDynamicStore::settleTime);
    EXPECT_EQ(notifications.size(), 4);
}

TEST_F(KCLinuxDynamicStoreTest, AnnouncedPrettyNamesChangeTheComputerNameOnly)
{
    start(QStringLiteral("Anna's Laptop"), QByteArray("anna-pc\n"));

    hostnamed->announce(QStringLiteral("Anna's Workstation"));
    timers.advance(KCLinuxDynamicStore::settleTime);
    EXPECT_EQ(notifications, QList<KCDynamicStoreKeys>{KCDynamicStoreKey::ComputerName});
    EXPECT_EQ(store->computerName(), QStringLiteral("Anna's Workstation"));

    hostnamed->announce(QStringLiteral("Anna's Workstation"));
    timers.advance(KCLinuxDynamicStore::settleTime);
    EXPECT_EQ(notifications.size(), 1) << "the same name again is no change";

    hostnamed->announce(QString());
    timers.advance(KCLinuxDynamicStore::settleTime);
    EXPECT_EQ(notifications.size(), 2);
    EXPECT_EQ(store->computerName(), QStringLiteral("anna-pc")) << "without a pretty name, the static one";
    EXPECT_EQ(store->localHostName(), QStringLiteral("anna-pc"));
}

TEST_F(KCLinuxDynamicStoreTest, HostnameFileChangesAreSeenHoweverTheFileIsWritten)
{
    start(std::nullopt, QByteArray("anna-pc\n"));

    replaceHostname("berit-pc.example.org\n");
    ASSERT_TRUE(waitForSettling());
    timers.advance(KCLinuxDynamicStore::settleTime);
    ASSERT_EQ(notifications.size(), 1);
    EXPECT_EQ(notifications[0], KCDynamicStoreKey::ComputerName | KCDynamicStoreKey::HostNames) << "both in one notification";
    EXPECT_EQ(store->computerName(), QStringLiteral("berit-pc.example.org"));
    EXPECT_EQ(store->localHostName(), QStringLiteral("berit-pc"));

    {
        QFile file(hostnamePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("carl-pc\n");
    }
    ASSERT_TRUE(waitForSettling());
    timers.advance(KCLinuxDynamicStore::settleTime);
    ASSERT_EQ(notifications.size(), 2);
    EXPECT_EQ(store->localHostName(), QStringLiteral("carl-pc"));

    ASSERT_TRUE(QFile::remove(hostnamePath()));
    ASSERT_TRUE(waitForSettling());
    timers.advance(KCLinuxDynamicStore::settleTime);
    ASSERT_EQ(notifications.size(), 3);
    EXPECT_EQ(store->localHostName(), std::nullopt);
}

TEST_F(KCLinuxDynamicStoreTest, OtherFilesInTheFolderAreIgnored)
{
    start(QStringLiteral("Anna's Laptop"), QByteArray("anna-pc\n"));
    const int namesRead = hostnamed->reads;

    // A watch of the test's own sees the same folder events; once it has, so has the store's.
    QFileSystemWatcher witness({folder.path()});
    bool seen = false;
    QObject::connect(&witness, &QFileSystemWatcher::directoryChanged, [&] { seen = true; });
    QFile other(QDir(folder.path()).filePath(QStringLiteral("resolv.conf")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen; }, 10000));
    QCoreApplication::processEvents();

    EXPECT_EQ(timers.activeTimerCount(), 0);
    EXPECT_EQ(hostnamed->reads, namesRead);
    EXPECT_TRUE(notifications.isEmpty());
}
