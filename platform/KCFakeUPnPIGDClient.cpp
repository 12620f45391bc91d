#include "KCFakeUPnPIGDClient.h"

#include "KCIPv4Address.h"

namespace {

constexpr int kNoSuchEntryInArray = 714;

QString portCall(const char *action, const QByteArray &protocol, uint16_t port)
{
    return QStringLiteral("%1 %2 %3").arg(QLatin1String(action), QString::fromLatin1(protocol)).arg(port);
}

class FakeSession final : public KCUPnPIGDSession {
public:
    explicit FakeSession(KCFakeUPnPIGDClient &client) : m_client(client) { ++m_client.liveSessions; }
    ~FakeSession() override { --m_client.liveSessions; }

    QByteArray rootDescriptionURL() const override { return m_client.script.rootDescriptionURL; }
    QByteArray serviceType() const override { return m_client.script.serviceType; }
    QByteArray lanAddress() const override { return m_client.script.lanAddress; }
    QByteArray wanAddress() const override { return m_client.script.wanAddress; }

    int addPortMapping(uint16_t externalPort, uint16_t internalPort, const QByteArray &internalClient,
        const QByteArray &description, const QByteArray &protocol, const QByteArray &leaseDuration) override
    {
        m_client.calls.append(portCall("AddPortMapping", protocol, externalPort));
        QList<int> &replies = m_client.script.addReplies[protocol];
        const int reply = replies.isEmpty() ? 0 : replies.takeFirst();
        if (reply == 0)
            m_client.mappings.insert({externalPort, protocol}, {internalPort, internalClient, description, leaseDuration});
        return reply;
    }

    int deletePortMapping(uint16_t externalPort, const QByteArray &protocol) override
    {
        m_client.calls.append(portCall("DeletePortMapping", protocol, externalPort));
        return m_client.mappings.remove({externalPort, protocol}) ? 0 : kNoSuchEntryInArray;
    }

    int getExternalIPAddress(QByteArray &address) override
    {
        m_client.calls.append(QStringLiteral("GetExternalIPAddress"));
        address = m_client.script.externalIPResult == 0 ? m_client.script.externalIPAddress : QByteArray();
        return m_client.script.externalIPResult;
    }

    int getSpecificPortMappingEntry(uint16_t externalPort, const QByteArray &protocol) override
    {
        m_client.calls.append(portCall("GetSpecificPortMappingEntry", protocol, externalPort));
        return m_client.mappings.contains({externalPort, protocol}) ? 0 : kNoSuchEntryInArray;
    }

    std::optional<QByteArray> fetchRootDescription() override
    {
        m_client.calls.append(QStringLiteral("fetchRootDescription"));
        return m_client.script.rootDescription;
    }

private:
    KCFakeUPnPIGDClient &m_client;
};

class FakeDeviceList final : public KCUPnPDeviceList {
public:
    explicit FakeDeviceList(KCFakeUPnPIGDClient &client) : m_client(client) { ++m_client.liveDeviceLists; }
    ~FakeDeviceList() override { --m_client.liveDeviceLists; }

    KCUPnPValidIGD validIGD() override
    {
        m_client.calls.append(QStringLiteral("validIGD"));
        const int result = m_client.script.validIGDResult;
        if (result == KCUPnPValidIGD::NoIGD)
            return {};
        return {result, std::make_unique<FakeSession>(m_client)};
    }

private:
    KCFakeUPnPIGDClient &m_client;
};

} // namespace

KCUPnPDiscovery KCFakeUPnPIGDClient::discover(uint32_t gatewayAddress)
{
    calls.append(QStringLiteral("discover %1").arg(KCIPv4Address::toString(gatewayAddress)));
    KCUPnPDiscovery discovery;
    discovery.reportedError = script.discoveryReportsError;
    if (script.deviceAnswers)
        discovery.devices = std::make_unique<FakeDeviceList>(*this);
    return discovery;
}

QList<uint16_t> KCFakeUPnPIGDClient::addedPorts(const QByteArray &protocol) const
{
    QList<uint16_t> ports;
    const QString prefix = QStringLiteral("AddPortMapping %1 ").arg(QString::fromLatin1(protocol));
    for (const QString &call : calls) {
        if (call.startsWith(prefix))
            ports.append(uint16_t(call.sliced(prefix.size()).toUInt()));
    }
    return ports;
}
