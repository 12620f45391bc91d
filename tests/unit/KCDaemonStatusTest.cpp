#include "KCDaemonOrchestrationSupport.h"

#include "KCDaemonSettings.h"

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");

class KCDaemonStatusTest : public KCDaemonFixture {};

} // namespace

TEST_F(KCDaemonStatusTest, NoAccountGivesExactlyThreeEntries)
{
    startWith({});
    const QVariantMap status = daemon->status();
    EXPECT_EQ(status.keys(), QStringList({KCDaemonSettingsUUID, KCDaemonStatusPortMapping, KCDaemonStatusSettings}));
    EXPECT_EQ(status.value(KCDaemonStatusPortMapping), KCDaemonStatusNoAccounts);
    EXPECT_EQ(status.value(KCDaemonStatusSettings).toMap(), daemon->settings().allSettings());
    EXPECT_EQ(status.value(KCDaemonSettingsUUID), daemon->settings().UUID());
}

TEST_F(KCDaemonStatusTest, StartUpMapsEveryAccountAndTellsTheClient)
{
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    const int launch = client.events.indexOf(QStringLiteral("Refreshing port mappings (launch) ..."));
    ASSERT_GE(launch, 0);
    EXPECT_EQ(client.events.mid(launch + 1),
              QStringList({QStringLiteral("Applying port mapping for %1 to: 5900 in auto mode").arg(Alice),
                           QStringLiteral("Applying port mapping for %1 to: 5900 in auto mode").arg(Bob)}));
    EXPECT_TRUE(log.contains(QStringLiteral("2 accounts found. (%1, %2)").arg(Alice, Bob)));

    // The last thing start-up does is push the status, before any mapping result.
    ASSERT_EQ(client.statuses.size(), 1);
    const QVariantMap status = client.statuses.first();
    EXPECT_EQ(status.value(KCDaemonStatusPortMapping), KCDaemonStatusPortMappingInitializing);
    EXPECT_EQ(status.value(KCDaemonStatusLastMappingStatus), QStringLiteral("Not Set"));
    EXPECT_EQ(status.value(KCDaemonStatusAccounts).toMap(),
              QVariantMap({{Alice, KCDaemonStatusAccountDaemonInitializing}, {Bob, KCDaemonStatusAccountDaemonInitializing}}));
    EXPECT_EQ(status.value(KCDaemonStatusMappedPorts).toMap(), QVariantMap({{Alice, qint64(0)}, {Bob, qint64(0)}}));
    EXPECT_EQ(status.value(KCDaemonStatusCustomAddresses).toMap(), QVariantMap());
    EXPECT_EQ(status.value(KCDaemonStatusExternalIPAddress), QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(status.contains(KCDaemonStatusUPNPIGDDiscoveryDiagnostics));
}

TEST_F(KCDaemonStatusTest, AutomaticModeShowsEachMappersPort)
{
    startWith({{Alice, QStringLiteral("pw-a")}, {Bob, QStringLiteral("pw-b")}});
    mapperFor(*daemon, Alice)->report(0, 40001, QStringLiteral("203.0.113.7"));
    mapperFor(*daemon, Bob)->report(0, 40002, QStringLiteral("203.0.113.8"));
    const QVariantMap status = daemon->status();
    EXPECT_EQ(status.value(KCDaemonStatusMappedPorts).toMap(), QVariantMap({{Alice, qint64(40001)}, {Bob, qint64(40002)}}));
    EXPECT_EQ(status.value(KCDaemonStatusCustomAddresses).toMap(), QVariantMap());
    // The first account's mapper speaks for the machine.
    EXPECT_EQ(status.value(KCDaemonStatusExternalIPAddress), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(status.value(KCDaemonStatusPortMapping), KCDaemonStatusPortMappingSuccessful);
    EXPECT_EQ(status.value(KCDaemonStatusAccounts).toMap().value(Alice), KCDaemonStatusAccountUpdating);
}

TEST_F(KCDaemonStatusTest, ManualModeShowsTheCustomValuesForAccountsWithARecord)
{
    store.setInteger(1, KCDaemonSettingsStoreKey::ManualMode);
    store.setInteger(4242, KCDaemonSettingsStoreKey::CustomPort);
    store.setObject(QStringLiteral("kc.example.net"), KCDaemonSettingsStoreKey::CustomAddress);
    addAccount(Alice, QStringLiteral("pw-a"));
    // Bob has a status but no password, so no record.
    store.setObject(QVariantList{Alice, Bob}, QStringLiteral("KCDaemonKeychainAccountList"));
    daemon = start();
    const QVariantMap status = daemon->status();
    EXPECT_EQ(status.value(KCDaemonStatusMappedPorts).toMap(), QVariantMap({{Alice, qint64(4242)}}));
    EXPECT_EQ(status.value(KCDaemonStatusCustomAddresses).toMap(), QVariantMap({{Alice, QStringLiteral("kc.example.net")}}));
    EXPECT_EQ(status.value(KCDaemonStatusAccounts).toMap().keys(), QStringList({Alice, Bob}));
}

TEST_F(KCDaemonStatusTest, DiagnosticsShowWithTheRouterDescriptionTheyGive)
{
    startWith({{Alice, QStringLiteral("pw-a")}});
    const QVariantMap diagnostics{{QStringLiteral("manufacturer"), QStringLiteral("Acme")}, {QStringLiteral("modelName"), QStringLiteral("AX-3000")}};
    mapperFor(*daemon, Alice)->diagnostics = diagnostics;
    daemon->setLastSentDict(KCRequestParameters{{QStringLiteral("k"), 1}});

    const QVariantMap status = daemon->status();
    EXPECT_EQ(status.value(KCDaemonStatusUPNPIGDDiscoveryDiagnostics).toMap(), diagnostics);
    EXPECT_EQ(status.value(KCDaemonStatusSettings).toMap().value(KCDaemonSettingsRouterInfo), QStringLiteral("Acme AX-3000,192.168.1.1,"));
    EXPECT_EQ(daemon->lastSentDict(), std::nullopt);

    client.clear();
    daemon->sendStatusToClient();
    ASSERT_EQ(client.statuses.size(), 1);
    EXPECT_EQ(client.statuses.first(), daemon->status());
}
