#include "KCDaemonSystemInformation.h"
#include "KCFakeHostnamed.h"
#include "KCFakeSystemInformationSources.h"
#include "KCGetifaddrsInterfaceList.h"
#include "KCLinuxDynamicStore.h"
#include "KCRtnetlinkRouteWatch.h"
#include "KCRtnetlinkRoutingTables.h"
#include "KCTestUtils.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace {

// A network namespace of the test's own, removed again on every way out. Nothing here touches
// the machine's own network: commands run with "ip -n", and code under test makes its sockets
// on a thread that has entered the namespace.
class TestNamespace {
public:
    TestNamespace()
        : m_name(QStringLiteral("kc-sysinfo-%1-%2").arg(::getpid()).arg(s_counter++))
    {
        removeLeftoversOfDeadRuns();
        m_created = ip({QStringLiteral("netns"), QStringLiteral("add"), m_name});
        if (m_created)
            m_fd = ::open(QFile::encodeName(QStringLiteral("/run/netns/") + m_name).constData(), O_RDONLY | O_CLOEXEC);
    }
    ~TestNamespace()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_created)
            ip({QStringLiteral("netns"), QStringLiteral("delete"), m_name});
    }
    TestNamespace(const TestNamespace &) = delete;
    TestNamespace &operator=(const TestNamespace &) = delete;

    bool isReady() const { return m_created && m_fd >= 0; }

    // Runs "ip -n NAME ARGS..." and says whether it worked.
    bool run(const QStringList &arguments) const { return ip(QStringList{QStringLiteral("-n"), m_name} + arguments); }

    // Runs f on a thread of its own that has entered the namespace, and returns its result.
    template<typename F>
    auto inside(F f) const -> decltype(f())
    {
        decltype(f()) result{};
        std::thread([&] {
            if (::setns(m_fd, CLONE_NEWNET) == 0)
                result = f();
        }).join();
        return result;
    }

    KCRtnetlinkSocket::Opener opener() const
    {
        return [this] {
            int fd = -1;
            int error = 0;
            std::thread([&] {
                if (::setns(m_fd, CLONE_NEWNET) == 0)
                    fd = KCRtnetlinkSocket::openInCurrentNamespace();
                error = errno;
            }).join();
            errno = error;
            return fd;
        };
    }

private:
    static bool ip(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("ip"), arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    // A run that was killed cannot clean up; the next one removes what it left.
    static void removeLeftoversOfDeadRuns()
    {
        const QStringList names = QDir(QStringLiteral("/run/netns")).entryList({QStringLiteral("kc-sysinfo-*")}, QDir::Files);
        for (const QString &name : names) {
            const int pid = name.section(QLatin1Char('-'), 2, 2).toInt();
            if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
                ip({QStringLiteral("netns"), QStringLiteral("delete"), name});
        }
    }

    static inline int s_counter = 0;
    QString m_name;
    bool m_created = false;
    int m_fd = -1;
};

// A namespace with a veth pair, kc0 at 10.77.0.2/24 with a fixed hardware address, and a
// default route through 10.77.0.1.
class KCSystemInformationNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KC_REQUIRE_ROOT();
        ns = std::make_unique<TestNamespace>();
        ASSERT_TRUE(ns->isReady()) << "cannot make a network namespace";
        for (const QString &command : {
                 QStringLiteral("link add kc0 address 02:11:22:33:44:55 type veth peer name kc1"),
                 QStringLiteral("link set kc0 up"),
                 QStringLiteral("link set kc1 up"),
                 QStringLiteral("addr add 10.77.0.2/24 dev kc0"),
                 QStringLiteral("addr add 10.77.1.2/24 dev kc0 label kc0:1"),
                 QStringLiteral("route add default via 10.77.0.1 dev kc0"),
                 QStringLiteral("neigh add 10.77.0.9 lladdr 00:1a:2b:3c:4d:5e dev kc0 nud permanent"),
             })
            ASSERT_TRUE(ns->run(command.split(QLatin1Char(' ')))) << command.toStdString();
        kc0Index = ns->inside([] { return int(::if_nametoindex("kc0")); });
        ASSERT_GT(kc0Index, 0);
    }

    KCGlobalIPv4State via(const char *router) const { return {QString::fromLatin1(router), QStringLiteral("kc0"), kc0Index}; }

    // The real store inside the namespace, recording each notification with the state it reports.
    void startStore()
    {
        routing = std::make_unique<KCRtnetlinkRoutingTables>(ns->opener());
        auto watch = std::make_unique<KCRtnetlinkRouteWatch>(ns->opener());
        ASSERT_TRUE(watch->isWatching());
        store = std::make_unique<KCLinuxDynamicStore>(std::make_unique<KCFakeHostnamed>(), *routing, std::move(watch), folder.path());
        QObject::connect(store.get(), &KCDynamicStore::keysChanged, [this](KCDynamicStoreKeys keys) {
            EXPECT_EQ(keys, KCDynamicStoreKey::GlobalIPv4);
            reported.append(store->globalIPv4State());
        });
        QObject::connect(store.get(), &KCLinuxDynamicStore::settled, [this] { ++settles; });
    }

    bool waitForReports(qsizetype count) { return QTest::qWaitFor([&] { return reported.size() >= count; }, 20000); }

    std::unique_ptr<TestNamespace> ns;
    int kc0Index = 0;
    QTemporaryDir folder;
    std::unique_ptr<KCRtnetlinkRoutingTables> routing;
    std::unique_ptr<KCLinuxDynamicStore> store;
    QList<std::optional<KCGlobalIPv4State>> reported;
    int settles = 0;
};

} // namespace

TEST_F(KCSystemInformationNetnsTest, LooksUpAddressesWithTheRealSources)
{
    const KCRtnetlinkRoutingTables tables(ns->opener());
    EXPECT_EQ(tables.defaultIPv4Route(), via("10.77.0.1"));

    // Interface list and routing tables are the calling thread's; the device model is not
    // per-namespace here, so a fake without devices stands in for it.
    const QStringList answers = ns->inside([] {
        const KCGetifaddrsInterfaceList interfaces;
        const KCRtnetlinkRoutingTables routingHere;
        KCFakeSystemInformationSources fake;
        KCSystemInformationSources sources = fake.sources();
        sources.interfaces = &interfaces;
        sources.routing = &routingHere;
        return QStringList{
            KCDaemonSystemInformation::privateIPAddress(sources).value_or(QStringLiteral("none")),
            KCDaemonSystemInformation::interfaceNameForIPAddress(QStringLiteral("10.77.0.2"), sources).value_or(QStringLiteral("none")),
            KCDaemonSystemInformation::interfaceNameForIPAddress(QStringLiteral("10.77.1.2"), sources).value_or(QStringLiteral("none")),
            KCDaemonSystemInformation::privateIPAddressToMACAddress(QStringLiteral("10.77.0.9"), sources).value_or(QStringLiteral("none")),
            KCDaemonSystemInformation::macAddressHexString(true, sources),
        };
    });
    EXPECT_EQ(answers, (QStringList{QStringLiteral("10.77.0.2"), QStringLiteral("kc0"), QStringLiteral("kc0"), QStringLiteral("00:1A:2B:3C:4D:5E"),
                                    QStringLiteral("021122334455")}));
}

TEST_F(KCSystemInformationNetnsTest, EachDefaultRouteChangeGivesOneNotification)
{
    startStore();
    EXPECT_EQ(store->globalIPv4State(), via("10.77.0.1"));

    ASSERT_TRUE(ns->run({QStringLiteral("route"), QStringLiteral("replace"), QStringLiteral("default"), QStringLiteral("via"),
                         QStringLiteral("10.77.0.254"), QStringLiteral("dev"), QStringLiteral("kc0")}));
    ASSERT_TRUE(waitForReports(1));
    // The change back is the marker: anything the first change still had to say would come
    // before it.
    ASSERT_TRUE(ns->run({QStringLiteral("route"), QStringLiteral("replace"), QStringLiteral("default"), QStringLiteral("via"),
                         QStringLiteral("10.77.0.1"), QStringLiteral("dev"), QStringLiteral("kc0")}));
    ASSERT_TRUE(waitForReports(2));
    EXPECT_EQ(reported, (QList<std::optional<KCGlobalIPv4State>>{via("10.77.0.254"), via("10.77.0.1")}));
}

TEST_F(KCSystemInformationNetnsTest, AnInterfaceGoingDownGivesOneNotificationForItsBurst)
{
    startStore();
    ASSERT_TRUE(ns->run({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("kc0"), QStringLiteral("down")}));
    ASSERT_TRUE(waitForReports(1));
    ASSERT_TRUE(ns->run({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("kc0"), QStringLiteral("up")}));
    ASSERT_TRUE(ns->run({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("via"),
                         QStringLiteral("10.77.0.1"), QStringLiteral("dev"), QStringLiteral("kc0")}));
    ASSERT_TRUE(waitForReports(2));
    EXPECT_EQ(reported, (QList<std::optional<KCGlobalIPv4State>>{std::nullopt, via("10.77.0.1")}));
}

TEST_F(KCSystemInformationNetnsTest, AddressChangesThatLeaveTheDefaultRouteAloneNotifyNothing)
{
    startStore();
    ASSERT_TRUE(ns->run({QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("10.88.0.2/24"), QStringLiteral("dev"),
                         QStringLiteral("kc0")}));
    ASSERT_TRUE(ns->run({QStringLiteral("addr"), QStringLiteral("del"), QStringLiteral("10.88.0.2/24"), QStringLiteral("dev"),
                         QStringLiteral("kc0")}));
    // The store has read the tables again after the events...
    ASSERT_TRUE(QTest::qWaitFor([&] { return settles > 0; }, 20000));
    // ...and a real change afterwards is the only thing it reports.
    ASSERT_TRUE(ns->run({QStringLiteral("route"), QStringLiteral("replace"), QStringLiteral("default"), QStringLiteral("via"),
                         QStringLiteral("10.77.0.254"), QStringLiteral("dev"), QStringLiteral("kc0")}));
    ASSERT_TRUE(waitForReports(1));
    EXPECT_EQ(reported, (QList<std::optional<KCGlobalIPv4State>>{via("10.77.0.254")}));
}
