// The daemon executable against the fake account service over HTTPS, both in one network
// namespace of the test's own: what the daemon's start-up wires together (configuration, trusted
// authorities, stored accounts, system information, mappers) reaches the service.

#include "KCDaemonKeychainAccess.h"
#include "KCDaemonProcess.h"
#include "KCFileKeychain.h"
#include "KCJsonDefaultsStore.h"
#include "KCPrivateSystemBus.h"
#include "KCServiceInNamespace.h"
#include "KCTestCertificates.h"
#include "KCTestUtils.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString Account = QStringLiteral("alice@example.com");
const QString Password = QStringLiteral("correct horse+battery");

} // namespace

TEST(KCDaemonServiceTest, StoredAccountReachesTheServiceOverHTTPSWithTheConfiguredAuthority)
{
    KC_REQUIRE_ROOT();
    QTemporaryDir scratch;
    const QString stateDir = QDir(scratch.path()).filePath(QStringLiteral("state"));
    QString error;
    const auto certificates = KCTestCertificates::generate(scratch.path(), &error);
    ASSERT_TRUE(certificates) << error.toStdString();

    {
        KCJsonDefaultsStore store(stateDir, QStringLiteral("com.fendrel.kovra.connect"));
        KCFileKeychain keychain(stateDir);
        ASSERT_TRUE(KCDaemonKeychainAccessAddAccount(keychain, store, Account, Password));
    }

    KCTestNetworkNamespace ns;
    ASSERT_TRUE(ns.isReady()) << ns.error().toStdString();
    const QString requestLog = QDir(scratch.path()).filePath(QStringLiteral("requests.jsonl"));
    KCServiceInNamespace service(ns, requestLog, {QStringLiteral("--https"), certificates->serverCertificate, certificates->serverKey});
    ASSERT_FALSE(service.baseURL().isEmpty());

    const QString config = QDir(scratch.path()).filePath(QStringLiteral("daemon.conf"));
    {
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Service]\nBaseURL=%1\nCAFile=%2\n[Daemon]\nStateDirectory=%3\n")
                       .arg(service.baseURL(), certificates->authorityCertificate, stateDir)
                       .toUtf8());
    }
    KCPrivateSystemBus bus;
    ASSERT_TRUE(bus.start()) << bus.error().toStdString();
    KCDaemonProcess daemon({QStringLiteral("--config"), config}, scratch.path(), &ns, bus.address());
    ASSERT_TRUE(daemon.started()) << daemon.error().toStdString();

    ASSERT_TRUE(service.waitForRequests(QString(), 1)) << daemon.standardError().toStdString();
    const QJsonObject update = service.requests().first();
    EXPECT_EQ(update.value(QStringLiteral("path")).toString(), QStringLiteral("/app/6.0/computer/update.php"));
    const QJsonObject form = update.value(QStringLiteral("form")).toObject();
    EXPECT_EQ(form.value(QStringLiteral("kovraID")).toArray().first().toString(), Account);
    EXPECT_EQ(form.value(QStringLiteral("password")).toArray().first().toString(), QStringLiteral("correct horse%2bbattery"));
    // The namespace has no default route: neither NAT-PMP/PCP nor UPnP finds a router.
    EXPECT_EQ(form.value(QStringLiteral("serviceLastErrorType")).toString(), QStringLiteral("-65566"));
    EXPECT_EQ(form.value(QStringLiteral("lastMappingStatus")).toString(), QStringLiteral("KCDaemonStatusNoRouter"));
    EXPECT_EQ(form.value(QStringLiteral("KCServicePort")).toObject().value(Account).toString(), QStringLiteral("0"));
    EXPECT_EQ(form.value(QStringLiteral("bundleID")).toString(), QStringLiteral("com.fendrel.Kovra-Connect"));
    // The namespace has no network: no address to report.
    EXPECT_EQ(form.value(QStringLiteral("localIPAddress")).toString(), QStringLiteral("n/a"));

    ASSERT_TRUE(daemon.waitForStandardError(QStringLiteral("Update sent: {\"alice@example.com\": 0}"))) << daemon.standardError().toStdString();
    EXPECT_TRUE(daemon.standardError().contains(QStringLiteral("Port mapping (miniupnpc) for port 5900 failed with status No router (-65566) (ep: 0). Retrying in 30 seconds")));
    EXPECT_FALSE(daemon.standardError().contains(QStringLiteral("correct horse")));

    daemon.sendSignal(SIGTERM);
    ASSERT_TRUE(daemon.waitForExit());
    EXPECT_EQ(daemon.exitCode(), 0);
}
