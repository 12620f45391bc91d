#include "KCDaemonOrchestrationSupport.h"

#include "KCDaemonKeychainAccess.h"
#include "KCDaemonSettings.h"
#include "KCOperatingSystemVersion.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

// Characters that form encodings treat specially, and white space a trim would eat.
const QString Account = QStringLiteral("Jo+Ann & Co@example.com");
const QString Password = QStringLiteral("p+ss&w@rd 1 ");
const QString Alice = QStringLiteral("alice@example.com");

class KCDaemonServerUpdateTest : public KCDaemonFixture {
protected:
    void SetUp() override
    {
        KCDaemonFixture::SetUp();
        computerName = QStringLiteral("Tom & Jerry's Mac+");
    }

    // Nothing the daemon logged or told the client holds a password, in any encoding.
    void expectNoPasswordAnywhere(const QStringList &passwords)
    {
        for (const QString &said : everythingSaid()) {
            for (const QString &password : passwords) {
                for (const QString &form : {password, QString::fromLatin1(QUrl::toPercentEncoding(password)), QString(password).replace(QLatin1Char('+'), QLatin1String("%2b"))})
                    EXPECT_FALSE(said.contains(form.trimmed())) << "password in: " << said.toStdString();
            }
        }
    }

    static QByteArray body(const QStringList &fields) { return fields.join(QLatin1Char('&')).toUtf8(); }
};

} // namespace

TEST_F(KCDaemonServerUpdateTest, AutomaticModeBodyCarriesEveryFieldInOrder)
{
    store.setObject(QStringLiteral("  en_US "), KCDaemonSettingsStoreKey::LastKeyboardLocale);
    // The service decodes the "%2b" of a name once more than a form decoder does.
    service.setResponse(UpdateEndpoint, KCFakeResponse::json(R"({"Jo+Ann & Co@example.com":0})"));
    startWith({{Account, Password}});
    mapEveryAccount(40001, QStringLiteral("203.0.113.7"));
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));
    const KCFakeRecordedRequest update = updates().first();

    const QString uuid = daemon->settings().UUID();
    EXPECT_EQ(update.body, body({
                               QStringLiteral("kovraID[]=Jo%252bAnn%20%26%20Co@example.com"),
                               QStringLiteral("password[]=p%252bss%26w@rd%201%20"),
                               QStringLiteral("fb_uha[]=p%252bss&w%40rd%201%20"),
                               QStringLiteral("ComputerName=Tom%2520%2526%2520Jerry's%2520Mac%252b"),
                               QStringLiteral("LocalHostname=office.local."),
                               QStringLiteral("IPAddress=203.0.113.7"),
                               QStringLiteral("KCServicePort[Jo%2bAnn & Co@example.com]=40001"),
                               QStringLiteral("KCServiceCustomAddress[Jo%2bAnn & Co@example.com]="),
                               QStringLiteral("KCServiceBackend[Jo%2bAnn & Co@example.com]=natpmp-pcp"),
                               QStringLiteral("MacAddress=001A2B3C4D5E"),
                               QStringLiteral("LastKeyboardLocale=en_US"),
                               QStringLiteral("HotKeys="),
                               QStringLiteral("manualMode=2"),
                               QStringLiteral("rm="),
                               QStringLiteral("versionInfo=N%2FA"),
                               QStringLiteral("bundleID=com.fendrel.Kovra-Connect"),
                               QStringLiteral("vncPort=5900"),
                               QStringLiteral("sshPort=22"),
                               QStringLiteral("UUID=") + uuid,
                               QStringLiteral("serviceLastErrorType=0"),
                               QStringLiteral("awakeStatus=1"),
                               QStringLiteral("lastMappingStatus=KCDaemonStatusPortMappingSuccessful"),
                               QStringLiteral("ttl=7200"),
                               QStringLiteral("localIPAddress=192.168.1.23"),
                               QStringLiteral("osversion=12.0.0"),
                               QStringLiteral("MappedService=vnc"),
                           }));
    EXPECT_EQ(update.header("Content-Type"), "application/x-www-form-urlencoded");

    // What a form decoder makes of it: a "+" arrives as the text "%2b", and the computer name
    // needs one more decoding to be itself again.
    EXPECT_EQ(update.arrayField(QStringLiteral("kovraID")), QStringList{QStringLiteral("Jo%2bAnn & Co@example.com")});
    EXPECT_EQ(update.arrayField(QStringLiteral("password")), QStringList{QStringLiteral("p%2bss&w@rd 1 ")});
    const QString computerNameField = update.field(QStringLiteral("ComputerName"));
    EXPECT_EQ(computerNameField, QStringLiteral("Tom%20%26%20Jerry's%20Mac%2b"));
    EXPECT_EQ(QUrl::fromPercentEncoding(computerNameField.toUtf8()), QStringLiteral("Tom & Jerry's Mac+"));
    EXPECT_EQ(update.field(QStringLiteral("UUID")), uuid);
    EXPECT_EQ(uuid, KCDaemonSettings::md5(QStringLiteral("4c4c4544-0042-3510-8052-b4c04f4e4d32")));

    ASSERT_TRUE(waitForUpdateAnswers(1));
    EXPECT_EQ(daemon->accountStatus().value(Account), KCDaemonStatusAccountUpdated);
    expectNoPasswordAnywhere({Password});
}

TEST_F(KCDaemonServerUpdateTest, ManualModeBodySendsTheCustomAddressAndPort)
{
    store.setInteger(1, KCDaemonSettingsStoreKey::ManualMode);
    store.setInteger(0, KCDaemonSettingsStoreKey::CustomPort);
    store.setObject(QStringLiteral(" kc.example.net "), KCDaemonSettingsStoreKey::CustomAddress);
    store.setObject(true, KCDaemonSettingsStoreKey::UseSSH);
    startWith({{Account, Password}});
    mapperFor(*daemon, Account)->report(-65566, 0, QStringLiteral("203.0.113.7"), 0);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));

    EXPECT_EQ(updates().first().body,
              body({
                  QStringLiteral("kovraID[]=Jo%252bAnn%20%26%20Co@example.com"),
                  QStringLiteral("password[]=p%252bss%26w@rd%201%20"),
                  QStringLiteral("fb_uha[]=p%252bss&w%40rd%201%20"),
                  QStringLiteral("ComputerName=Tom%2520%2526%2520Jerry's%2520Mac%252b"),
                  QStringLiteral("LocalHostname=office.local."),
                  QStringLiteral("IPAddress=203.0.113.7"),
                  // Custom port 0 in manual mode with secure shell means the secure-shell port.
                  QStringLiteral("KCServicePort[Jo%2bAnn & Co@example.com]=22"),
                  QStringLiteral("KCServiceCustomAddress[Jo%2bAnn & Co@example.com]=kc.example.net"),
                  QStringLiteral("KCServiceBackend[Jo%2bAnn & Co@example.com]=manual"),
                  QStringLiteral("MacAddress=001A2B3C4D5E"),
                  QStringLiteral("LastKeyboardLocale="),
                  QStringLiteral("HotKeys="),
                  QStringLiteral("manualMode=1"),
                  QStringLiteral("rm="),
                  QStringLiteral("versionInfo=N%2FA"),
                  QStringLiteral("bundleID=com.fendrel.Kovra-Connect"),
                  QStringLiteral("vncPort=5900"),
                  QStringLiteral("sshPort=22"),
                  QStringLiteral("UUID=") + daemon->settings().UUID(),
                  QStringLiteral("serviceLastErrorType=-65566"),
                  QStringLiteral("awakeStatus=1"),
                  QStringLiteral("lastMappingStatus=KCDaemonStatusPortMappingUsingManualSetting"),
                  QStringLiteral("ttl=0"),
                  QStringLiteral("localIPAddress=192.168.1.23"),
                  QStringLiteral("osversion=12.0.0"),
                  QStringLiteral("MappedService=ssh"),
              }));
}

TEST_F(KCDaemonServerUpdateTest, ManualModeWithVNCSendsPort5900)
{
    store.setInteger(1, KCDaemonSettingsStoreKey::ManualMode);
    startWith({{Alice, QStringLiteral("pw")}});
    mapperFor(*daemon, Alice)->report(0, 0, QStringLiteral("203.0.113.7"), 0);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));
    const QList<KCFakeRecordedRequest::Field> port{{Alice, QStringLiteral("5900")}};
    EXPECT_EQ(updates().first().dictionaryField(QStringLiteral("KCServicePort")), port);
    const QList<KCFakeRecordedRequest::Field> backend{{Alice, QStringLiteral("manual")}};
    EXPECT_EQ(updates().first().dictionaryField(QStringLiteral("KCServiceBackend")), backend);
}

TEST_F(KCDaemonServerUpdateTest, UnchangedParametersAreSentOnlyWhenForced)
{
    startWith({{Alice, QStringLiteral("pw")}});
    mapEveryAccount();
    ASSERT_TRUE(waitForUpdateAnswers(1));

    daemon->sendUpdateToServer();
    EXPECT_EQ(client.events.last(), QStringLiteral("No changes detected so not sending update..."));
    // Nothing was sent, so the accounts still show the service's last answer.
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountUpdated);

    // The daily timer forgets what was sent: the same parameters go out again.
    timers.advance(24h);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    EXPECT_EQ(updates().at(1).body, updates().at(0).body);
    ASSERT_TRUE(waitForUpdateAnswers(2));

    // A new name is a change.
    dynamicStore->setComputerName(QStringLiteral("Den"));
    dynamicStore->notify(KCDynamicStoreKey::ComputerName);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 3));
    EXPECT_EQ(updates().at(2).field(QStringLiteral("ComputerName")), QStringLiteral("Den"));
    ASSERT_TRUE(waitForUpdateAnswers(3));

    dynamicStore->setLocalHostName(QStringLiteral("den"));
    dynamicStore->notify(KCDynamicStoreKey::HostNames);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 4));
    EXPECT_EQ(updates().at(3).field(QStringLiteral("LocalHostname")), QStringLiteral("den.local."));
    ASSERT_TRUE(waitForUpdateAnswers(4));
    EXPECT_EQ(updates().size(), 4);
}

TEST_F(KCDaemonServerUpdateTest, SendingLineShowsTheParametersWithoutPasswords)
{
    startWith({{Account, Password}, {Alice, QStringLiteral("alice secret")}});
    mapEveryAccount();
    const QStringList sending = client.events.filter(QStringLiteral("Sending update: "));
    ASSERT_EQ(sending.size(), 1);
    EXPECT_TRUE(sending.first().startsWith(QStringLiteral("Sending update: {\"kovraID\": [\"Jo+Ann & Co@example.com\", \"alice@example.com\"], "
                                                          "\"ComputerName\": \"Tom%20%26%20Jerry's%20Mac%2b\", ")))
        << sending.first().toStdString();
    EXPECT_FALSE(sending.first().contains(QLatin1String("password")));
    EXPECT_FALSE(sending.first().contains(QLatin1String("fb_uha")));
    ASSERT_TRUE(waitForUpdateAnswers(1));
    expectNoPasswordAnywhere({Password, QStringLiteral("alice secret")});
}

TEST_F(KCDaemonServerUpdateTest, AccountWithoutAPasswordIsRemovedAndReported)
{
    startWith({{Alice, QStringLiteral("pw-a")}, {Account, Password}});
    // Known from the store's list, but its keychain item is gone.
    keychain.items.removeIf([](const KCFakeKeychain::Item &item) { return item.account == Account; });
    client.clear();

    mapEveryAccount();
    EXPECT_EQ(client.eventCount(QStringLiteral("Removed account (%1)").arg(Account)), 1);
    EXPECT_EQ(client.eventCount(QStringLiteral("Removed Kovra Connect account: %1").arg(Account)), 1);
    ASSERT_EQ(client.accountErrors.size(), 1);
    EXPECT_EQ(client.accountErrors.first().first, Account);
    EXPECT_EQ(client.accountErrors.first().second,
              KCError::withFailureReason(QStringLiteral("com.fendrel.kovra.connect.daemon"), 20, QStringLiteral("Password cannot be empty")));
    EXPECT_FALSE(daemon->accountStatus().contains(Account));
    EXPECT_FALSE(daemon->kcServices().count(Account));
    EXPECT_EQ(KCDaemonKeychainAccessCopyAccountList(keychain, store), QStringList{Alice});

    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));
    EXPECT_EQ(updates().first().arrayField(QStringLiteral("kovraID")), QStringList{Alice});
    EXPECT_EQ(updates().first().arrayField(QStringLiteral("password")), QStringList{QStringLiteral("pw-a")});
    // Without a password there is nothing to sign out with.
    EXPECT_TRUE(service.requests(SignOutEndpoint).isEmpty());
}

TEST_F(KCDaemonServerUpdateTest, KeychainThatCannotBeReadLosesNoAccount)
{
    startWith({{Alice, QStringLiteral("pw-a")}});
    mapEveryAccount();
    ASSERT_TRUE(waitForUpdateAnswers(1));
    daemon->setLastSentDict(std::nullopt);

    keychain.openStatus = KCKeychainStatusCode::NotAvailable;
    client.clear();
    daemon->sendUpdateToServer();
    EXPECT_TRUE(client.accountErrors.isEmpty());
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountUpdated);
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot read the accounts' passwords from the system keychain. Retrying in 120.0 seconds")));

    keychain.openStatus = KCKeychainStatusCode::Success;
    timers.advance(120s);
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    EXPECT_EQ(KCDaemonKeychainAccessCopyAccountList(keychain, store), QStringList{Alice});
}

TEST_F(KCDaemonServerUpdateTest, NoAccountMeansNoUpdate)
{
    startWith({});
    daemon->sendUpdateToServer();
    EXPECT_EQ(client.events.last(), QStringLiteral("No accounts so not sending an update. This shouldn't occur!"));
}

TEST_F(KCDaemonServerUpdateTest, SignOutBodyAndRemoval)
{
    startWith({{Account, Password}, {Alice, QStringLiteral("pw-a")}});
    mapEveryAccount();
    ASSERT_TRUE(waitForUpdateAnswers(1));
    KCFakePortMapper *mapper = mapperFor(*daemon, Account);
    client.clear();

    EXPECT_TRUE(daemon->removeAccount(Account));
    EXPECT_EQ(client.events, QStringList{QStringLiteral("Removed account (%1)").arg(Account)});
    EXPECT_FALSE(daemon->accountStatus().contains(Account));
    EXPECT_EQ(mapper->closeCount, 1);
    ASSERT_FALSE(client.statuses.isEmpty());
    EXPECT_FALSE(client.statuses.last().value(KCDaemonStatusAccounts).toMap().contains(Account));
    EXPECT_EQ(daemon->lastSentDict(), std::nullopt);
    EXPECT_EQ(KCDaemonKeychainAccessCopyAccountList(keychain, store), QStringList{Alice});
    // Another account is left, and so is its mapping.
    EXPECT_TRUE(mapperFor(*daemon, Alice));

    ASSERT_TRUE(waitForRequestsTo(SignOutEndpoint, 1));
    EXPECT_EQ(service.requests(SignOutEndpoint).first().body,
              body({
                  QStringLiteral("kovraID=Jo%252bAnn%20%26%20Co@example.com"),
                  QStringLiteral("password=p%252bss%26w@rd%201%20"),
                  QStringLiteral("fb_uha=p%252bss&w%40rd%201%20"),
                  QStringLiteral("MacAddress=001A2B3C4D5E"),
                  QStringLiteral("UUID=") + daemon->settings().UUID(),
                  QStringLiteral("bundleID=com.fendrel.Kovra-Connect"),
              }));

    // The last account takes every mapping with it.
    EXPECT_TRUE(daemon->removeAccount(Alice));
    EXPECT_TRUE(daemon->kcServices().empty());
    EXPECT_EQ(client.statuses.last().value(KCDaemonStatusPortMapping), KCDaemonStatusNoAccounts);
    ASSERT_TRUE(waitForRequestsTo(SignOutEndpoint, 2));
    expectNoPasswordAnywhere({Password, QStringLiteral("pw-a")});
}

TEST_F(KCDaemonServerUpdateTest, SignOutAnswersOtherThanSignedOutAreLoggedAndTheAccountGoesAllTheSame)
{
    struct Case {
        const char *name;
        KCFakeResponse response;
        // The reason logged, or none for an answer that is not logged.
        std::optional<QString> logged;
    } cases[] = {
        {"signed out", KCFakeResponse::json(R"({"statusCode":22})"), std::nullopt},
        {"another status code", KCFakeResponse::json(R"({"statusCode":31})"), QStringLiteral("31")},
        {"a status code as text", KCFakeResponse::json(R"({"statusCode":"22"})"), QStringLiteral("\"22\"")},
        {"no status code", KCFakeResponse::json(R"({"ok":true})"), QStringLiteral("null")},
        {"not JSON", KCFakeResponse::withContentType("<html>oops</html>", "text/html", 500), QString()},
        // Last, so that every answer before it has been handled once its line is there.
        {"sentinel", KCFakeResponse::json(R"({"statusCode":99})"), QStringLiteral("99")},
    };
    startWith({});
    int signOuts = 0;
    QStringList expected;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString account = QStringLiteral("user%1@example.com").arg(signOuts);
        addAccount(account, QStringLiteral("secret %1").arg(signOuts));
        daemon->setAccountStatus(account, KCDaemonStatusAccountUpdated);
        service.setResponse(SignOutEndpoint, c.response);
        EXPECT_TRUE(daemon->removeAccount(account));
        EXPECT_FALSE(daemon->accountStatus().contains(account));
        ASSERT_TRUE(waitForRequestsTo(SignOutEndpoint, ++signOuts));
        if (c.logged)
            expected.append(QStringLiteral("Could not sign out account from server : ") + *c.logged);
    }
    ASSERT_TRUE(waitFor([&] { return log.contains(QStringLiteral("Could not sign out account from server : 99")); }));
    const QStringList lines = log.lines().filter(QStringLiteral("Could not sign out"));
    ASSERT_EQ(lines.size(), expected.size()) << lines.join(QLatin1Char('\n')).toStdString();
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(expected[i])) << lines[i].toStdString();
    expectNoPasswordAnywhere({QStringLiteral("secret 0"), QStringLiteral("secret 1"), QStringLiteral("secret 5")});
}

TEST_F(KCDaemonServerUpdateTest, RemovalThatCannotDeleteKeepsTheAccountSigningOut)
{
    startWith({{Alice, QStringLiteral("pw-a")}});
    keychain.writeStatus = KCKeychainStatusCode::IOError;
    EXPECT_FALSE(daemon->removeAccount(Alice));
    EXPECT_TRUE(log.contains(QStringLiteral("Remove KC Account failed")));
    EXPECT_EQ(daemon->accountStatus().value(Alice), KCDaemonStatusAccountSigningOut);

    // A name the daemon never held is not made up.
    EXPECT_FALSE(daemon->removeAccount(QStringLiteral("nobody@example.com")));
    EXPECT_FALSE(daemon->accountStatus().contains(QStringLiteral("nobody@example.com")));
}

TEST(KCOperatingSystemVersionTest, VersionTextsBecomeThreeNumbers)
{
    const std::pair<const char *, std::optional<QString>> cases[] = {
        {"12", QStringLiteral("12.0.0")},
        {"22.04", QStringLiteral("22.4.0")},
        {"15.5.1", QStringLiteral("15.5.1")},
        {"1.2.3.4", QStringLiteral("1.2.3")},
        {"6.1.0-18-amd64", QStringLiteral("6.1.0")},
        {"6.5-arch1", QStringLiteral("6.5.0")},
        {"rolling", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(KCOperatingSystemVersion::fromVersionText(QString::fromLatin1(text)), expected) << text;

    EXPECT_EQ(KCOperatingSystemVersion::versionIdFromOsRelease("NAME=\"Fedora\"\nVERSION_ID=40\n"), QStringLiteral("40"));
    EXPECT_EQ(KCOperatingSystemVersion::versionIdFromOsRelease("VERSION_ID='3.19.1'\n"), QStringLiteral("3.19.1"));
    EXPECT_EQ(KCOperatingSystemVersion::versionIdFromOsRelease("ID=arch\n"), std::nullopt);

    // A system without os-release, or a rolling one, reads as its kernel.
    QTemporaryDir empty;
    const QString fromKernel = KCOperatingSystemVersion::versionString(empty.path());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(fromKernel).hasMatch()) << fromKernel.toStdString();
}
