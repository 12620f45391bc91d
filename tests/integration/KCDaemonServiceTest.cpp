// The daemon executable against the fake account service over HTTPS, both in one network
// namespace of the test's own: what the daemon's start-up wires together (configuration, trusted
// authorities, stored accounts, system information, mappers) reaches the service.

#include "KCDaemonKeychainAccess.h"
#include "KCDaemonProcess.h"
#include "KCFileKeychain.h"
#include "KCJsonDefaultsStore.h"
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

// The fake account service run in the namespace, logging every request it receives to a file.
class KCServiceInNamespace {
public:
    KCServiceInNamespace(const KCTestNetworkNamespace &ns, const KCTestCertificates &certificates, const QString &requestLog)
    {
        m_process.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), ns.name(), QStringLiteral(KC_FAKE_ACCOUNT_SERVICE),
                                                QStringLiteral("--https"), certificates.serverCertificate, certificates.serverKey,
                                                QStringLiteral("--log"), requestLog});
        if (m_process.waitForStarted(30000) && m_process.waitForReadyRead(30000))
            m_baseURL = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~KCServiceInNamespace()
    {
        m_process.kill();
        m_process.waitForFinished(30000);
    }
    // Empty when the service did not come up.
    QString baseURL() const { return m_baseURL; }

private:
    QProcess m_process;
    QString m_baseURL;
};

QList<QJsonObject> loggedRequests(const QString &path)
{
    QList<QJsonObject> requests;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return requests;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            requests.append(QJsonDocument::fromJson(line).object());
    }
    return requests;
}

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
    KCServiceInNamespace service(ns, *certificates, requestLog);
    ASSERT_FALSE(service.baseURL().isEmpty());

    const QString config = QDir(scratch.path()).filePath(QStringLiteral("daemon.conf"));
    {
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Service]\nBaseURL=%1\nCAFile=%2\n[Daemon]\nStateDirectory=%3\n")
                       .arg(service.baseURL(), certificates->authorityCertificate, stateDir)
                       .toUtf8());
    }
    KCDaemonProcess daemon({QStringLiteral("--config"), config}, scratch.path(), &ns);
    ASSERT_TRUE(daemon.started()) << daemon.error().toStdString();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !loggedRequests(requestLog).isEmpty(); }, 30000)) << daemon.standardError().toStdString();
    const QJsonObject update = loggedRequests(requestLog).first();
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
