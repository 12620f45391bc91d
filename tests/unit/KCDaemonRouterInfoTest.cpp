#include "KCDaemonOrchestrationSupport.h"

#include "KCDaemonSettings.h"

using namespace std::chrono_literals;

namespace {

const QString Alice = QStringLiteral("alice@example.com");

QVariantMap describedAs(const QVariant &manufacturer, const QVariant &modelName, const QVariant &modelNumber)
{
    QVariantMap diagnostics{{QStringLiteral("descriptionURL"), QStringLiteral("http://private-ipv4:5000/rootDesc.xml")},
                            {QStringLiteral("descriptionHostType"), QStringLiteral("private-ipv4")},
                            {QStringLiteral("serviceType"), QStringLiteral("urn:schemas-upnp-org:service:WANIPConnection:1")}};
    if (manufacturer.isValid())
        diagnostics.insert(QStringLiteral("manufacturer"), manufacturer);
    if (modelName.isValid())
        diagnostics.insert(QStringLiteral("modelName"), modelName);
    if (modelNumber.isValid())
        diagnostics.insert(QStringLiteral("modelNumber"), modelNumber);
    return diagnostics;
}

class KCDaemonRouterInfoTest : public KCDaemonFixture {
protected:
    // A mapper that went through UPnP and holds the router's diagnostics.
    KCFakePortMapper *upnpMapper(const QVariantMap &diagnostics)
    {
        KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
        mapper->backend = QStringLiteral("miniupnpc");
        mapper->diagnostics = diagnostics;
        return mapper;
    }
};

} // namespace

TEST_F(KCDaemonRouterInfoTest, DescriptionNamesMakerModelAndRouter)
{
    const std::pair<const char *, std::pair<QVariantMap, std::optional<QString>>> cases[] = {
        {"number repeating the model", {describedAs(QStringLiteral(" Acme "), QStringLiteral("AX-3000"), QStringLiteral("AX-3000")), QStringLiteral("Acme AX-3000,192.168.1.1,")}},
        {"all three", {describedAs(QStringLiteral("Acme"), QStringLiteral("AX-3000"), QStringLiteral("1.0")), QStringLiteral("Acme AX-3000 1.0,192.168.1.1,")}},
        {"white space and newlines", {describedAs(QStringLiteral("\n Acme\t"), QStringLiteral(" "), QStringLiteral("AX-3000\n")), QStringLiteral("Acme AX-3000,192.168.1.1,")}},
        {"a value that is not text", {describedAs(42, QStringLiteral("AX-3000"), QVariant()), QStringLiteral("AX-3000,192.168.1.1,")}},
        {"only the description URL and its host type", {describedAs(QVariant(), QVariant(), QVariant()), std::nullopt}},
        {"nothing at all", {QVariantMap(), std::nullopt}},
    };
    startWith({});
    for (const auto &[name, c] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(daemon->routerInfoFromUPNPIGDDiscoveryDiagnostics(c.first), c.second);
    }

    // Without a default route the description cannot name a router, and never matches one.
    dynamicStore->setGlobalIPv4State(std::nullopt);
    EXPECT_EQ(daemon->currentRouterIPAddress(), QString());
    const auto described = daemon->routerInfoFromUPNPIGDDiscoveryDiagnostics(describedAs(QStringLiteral("Acme"), QVariant(), QVariant()));
    EXPECT_EQ(described, QStringLiteral("Acme,,"));
    EXPECT_FALSE(daemon->routerInfoMatchesCurrentRouter(*described));
}

TEST_F(KCDaemonRouterInfoTest, StoredDescriptionMatchesOnlyItsOwnRouter)
{
    startWith({});
    const QString stored = QStringLiteral("Acme AX-3000,192.168.1.1,");
    EXPECT_TRUE(daemon->routerInfoMatchesCurrentRouter(stored));
    EXPECT_TRUE(daemon->routerInfoMatchesCurrentRouter(QStringLiteral("Acme, 192.168.1.1 ")));
    EXPECT_FALSE(daemon->routerInfoMatchesCurrentRouter(QStringLiteral("N/A")));
    EXPECT_FALSE(daemon->routerInfoMatchesCurrentRouter(QString()));
    EXPECT_FALSE(daemon->routerInfoMatchesCurrentRouter(QStringLiteral("Acme,,")));

    moveToRouter(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(daemon->currentRouterIPAddress(), QStringLiteral("10.0.0.1"));
    EXPECT_FALSE(daemon->routerInfoMatchesCurrentRouter(stored));
}

TEST_F(KCDaemonRouterInfoTest, NewDescriptionIsKeptAndForcesTheNextUpdate)
{
    startWith({});
    const KCRequestParameters sent{{QStringLiteral("k"), 1}};
    daemon->setLastSentDict(sent);

    daemon->updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(describedAs(QVariant(), QVariant(), QVariant()));
    EXPECT_EQ(daemon->settings().routerInfo(), QStringLiteral("N/A"));
    EXPECT_EQ(daemon->lastSentDict(), sent);

    daemon->updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(describedAs(QStringLiteral("Acme"), QStringLiteral("AX-3000"), QVariant()));
    EXPECT_EQ(daemon->settings().routerInfo(), QStringLiteral("Acme AX-3000,192.168.1.1,"));
    EXPECT_EQ(daemon->lastSentDict(), std::nullopt);
    // In memory only until the settings are saved.
    EXPECT_EQ(store.objectForKey(KCDaemonSettingsStoreKey::RouterInfo), QVariant(QStringLiteral("N/A")));

    daemon->setLastSentDict(sent);
    daemon->updateRouterInfoFromUPNPIGDDiscoveryDiagnostics(describedAs(QStringLiteral("Acme"), QStringLiteral("AX-3000"), QVariant()));
    EXPECT_EQ(daemon->lastSentDict(), sent);
}

TEST_F(KCDaemonRouterInfoTest, DiagnosticsArePostedOnceAndAgainAfterAFailedPost)
{
    const QVariantMap diagnostics = describedAs(QStringLiteral(" Fendrel Lab "), QStringLiteral("LabRouter"), QStringLiteral("LR-1"));
    service.setResponse(DiagnosticsEndpoint, KCFakeResponse::withContentType("<html>Service Unavailable</html>", "text/html", 503));
    startWith({{Alice, QStringLiteral("pw")}});
    upnpMapper(diagnostics)->report(0, 40001, QStringLiteral("203.0.113.7"));

    ASSERT_TRUE(waitFor([&] { return log.contains(QStringLiteral("Failed to send UPnP IGD diagnostics: ")); }));
    EXPECT_EQ(client.eventCount(QStringLiteral("Failed to send UPnP IGD diagnostics.")), 1);
    EXPECT_FALSE(daemon->lastSentIGDDiscoveryDiagnostics());

    const KCFakeRecordedRequest posted = service.requests(DiagnosticsEndpoint).first();
    const QList<KCFakeRecordedRequest::Field> expected{
        {QStringLiteral("descriptionHostType"), QStringLiteral("private-ipv4")},
        {QStringLiteral("descriptionURL"), QStringLiteral("http://private-ipv4:5000/rootDesc.xml")},
        {QStringLiteral("manufacturer"), QStringLiteral("Fendrel Lab")},
        {QStringLiteral("modelName"), QStringLiteral("LabRouter")},
        {QStringLiteral("modelNumber"), QStringLiteral("LR-1")},
        {QStringLiteral("serviceType"), QStringLiteral("urn:schemas-upnp-org:service:WANIPConnection:1")},
        {QStringLiteral("UUID"), daemon->settings().UUID()},
        {QStringLiteral("bundleID"), QStringLiteral("com.fendrel.Kovra-Connect")},
    };
    EXPECT_EQ(posted.fields, expected);
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending UPnP IGD diagnostics: {\"descriptionHostType\": \"private-ipv4\", ")), 1);

    // The next successful mapping posts them again; this time the service takes them.
    service.setResponse(DiagnosticsEndpoint, KCFakeResponse::json("{}"));
    daemon->refreshAllPortMappings();
    upnpMapper(diagnostics)->report(0, 40001, QStringLiteral("203.0.113.7"));
    ASSERT_TRUE(waitFor([&] { return daemon->lastSentIGDDiscoveryDiagnostics().has_value(); }));
    EXPECT_EQ(service.requests(DiagnosticsEndpoint).size(), 2);

    // The same diagnostics are not posted again.
    for (int i = 0; i < 2; ++i) {
        daemon->refreshAllPortMappings();
        upnpMapper(diagnostics)->report(0, 40001, QStringLiteral("203.0.113.7"));
    }
    EXPECT_EQ(client.eventCount(QStringLiteral("Sending UPnP IGD diagnostics: ")), 2);

    // Other diagnostics are.
    daemon->refreshAllPortMappings();
    upnpMapper(describedAs(QStringLiteral("Fendrel Lab"), QStringLiteral("LabRouter"), QStringLiteral("LR-2")))->report(0, 40001, QStringLiteral("203.0.113.7"));
    ASSERT_TRUE(waitForRequestsTo(DiagnosticsEndpoint, 3));
    EXPECT_EQ(service.requests(DiagnosticsEndpoint).last().field(QStringLiteral("modelNumber")), QStringLiteral("LR-2"));
}

TEST_F(KCDaemonRouterInfoTest, DiagnosticsFoundLaterDescribeTheRouterAndUpdateTheService)
{
    startWith({{Alice, QStringLiteral("pw")}});
    KCFakePortMapper *mapper = mapperFor(*daemon, Alice);
    mapper->backend = QStringLiteral("miniupnpc");
    mapper->report(0, 40001, QStringLiteral("203.0.113.7"));
    ASSERT_TRUE(waitForUpdateAnswers(1));
    EXPECT_EQ(updates().first().field(QStringLiteral("rm")), QString());

    // Nothing found changes nothing.
    const int statusPushes = client.statuses.size();
    mapper->finishCollections({});
    EXPECT_EQ(client.statuses.size(), statusPushes);

    // Nothing changed, so this result sends no update; the router's answer comes later.
    mapper->report(0, 40001, QStringLiteral("203.0.113.7"));
    EXPECT_EQ(client.events.last(), QStringLiteral("No changes detected so not sending update..."));
    client.clear();
    mapper->finishCollections(describedAs(QStringLiteral("Acme"), QStringLiteral("AX-3000"), QVariant()));
    EXPECT_EQ(daemon->settings().routerInfo(), QStringLiteral("Acme AX-3000,192.168.1.1,"));
    ASSERT_FALSE(client.statuses.isEmpty());
    EXPECT_EQ(client.statuses.first().value(KCDaemonStatusSettings).toMap().value(KCDaemonSettingsRouterInfo),
              QStringLiteral("Acme AX-3000,192.168.1.1,"));
    ASSERT_TRUE(waitForRequestsTo(DiagnosticsEndpoint, 1));
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    EXPECT_EQ(updates().size(), 2);
    EXPECT_EQ(updates().last().field(QStringLiteral("rm")), QStringLiteral("Acme AX-3000,192.168.1.1,"));
}

TEST_F(KCDaemonRouterInfoTest, StoredDescriptionIsSentOnlyBehindItsRouter)
{
    store.setObject(QStringLiteral("Acme AX-3000,192.168.1.1,"), KCDaemonSettingsStoreKey::RouterInfo);
    startWith({{Alice, QStringLiteral("pw")}});
    mapEveryAccount();
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 1));
    EXPECT_EQ(updates().first().field(QStringLiteral("rm")), QStringLiteral("Acme AX-3000,192.168.1.1,"));
    ASSERT_TRUE(waitForUpdateAnswers(1));

    moveToRouter(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.5"));
    timers.advance(5s);
    mapEveryAccount();
    ASSERT_TRUE(waitForRequestsTo(UpdateEndpoint, 2));
    EXPECT_EQ(updates().at(1).field(QStringLiteral("rm")), QString());
    EXPECT_EQ(updates().at(1).field(QStringLiteral("localIPAddress")), QStringLiteral("10.0.0.5"));
}
