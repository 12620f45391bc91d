#include "KCSharedFakeUPnPIGDClient.h"

class KCSharedFakeUPnPIGDClient::Session final : public KCUPnPIGDSession {
    template <typename Function>
    auto locked(Function function) const
    {
        const std::lock_guard lock(m_owner.m_mutex);
        return function();
    }

public:
    Session(KCSharedFakeUPnPIGDClient &owner, std::unique_ptr<KCUPnPIGDSession> inner)
        : m_owner(owner)
        , m_inner(std::move(inner))
    {
    }
    ~Session() override
    {
        const std::lock_guard lock(m_owner.m_mutex);
        m_inner.reset();
    }

    QByteArray rootDescriptionURL() const override { return locked([&] { return m_inner->rootDescriptionURL(); }); }
    QByteArray serviceType() const override { return locked([&] { return m_inner->serviceType(); }); }
    QByteArray lanAddress() const override { return locked([&] { return m_inner->lanAddress(); }); }
    QByteArray wanAddress() const override { return locked([&] { return m_inner->wanAddress(); }); }
    int addPortMapping(uint16_t externalPort, uint16_t internalPort, const QByteArray &internalClient,
        const QByteArray &description, const QByteArray &protocol, const QByteArray &leaseDuration) override
    {
        return locked([&] {
            return m_inner->addPortMapping(externalPort, internalPort, internalClient, description, protocol,
                leaseDuration);
        });
    }
    int deletePortMapping(uint16_t externalPort, const QByteArray &protocol) override
    {
        return locked([&] { return m_inner->deletePortMapping(externalPort, protocol); });
    }
    int getExternalIPAddress(QByteArray &address) override
    {
        return locked([&] { return m_inner->getExternalIPAddress(address); });
    }
    int getSpecificPortMappingEntry(uint16_t externalPort, const QByteArray &protocol) override
    {
        return locked([&] { return m_inner->getSpecificPortMappingEntry(externalPort, protocol); });
    }
    std::optional<QByteArray> fetchRootDescription() override
    {
        return locked([&] { return m_inner->fetchRootDescription(); });
    }

private:
    KCSharedFakeUPnPIGDClient &m_owner;
    std::unique_ptr<KCUPnPIGDSession> m_inner;
};

class KCSharedFakeUPnPIGDClient::Devices final : public KCUPnPDeviceList {
public:
    Devices(KCSharedFakeUPnPIGDClient &owner, std::unique_ptr<KCUPnPDeviceList> inner)
        : m_owner(owner)
        , m_inner(std::move(inner))
    {
    }
    ~Devices() override
    {
        const std::lock_guard lock(m_owner.m_mutex);
        m_inner.reset();
    }

    KCUPnPValidIGD validIGD() override
    {
        KCUPnPValidIGD picked;
        {
            const std::lock_guard lock(m_owner.m_mutex);
            picked = m_inner->validIGD();
        }
        if (picked.session)
            picked.session = std::make_unique<Session>(m_owner, std::move(picked.session));
        return picked;
    }

private:
    KCSharedFakeUPnPIGDClient &m_owner;
    std::unique_ptr<KCUPnPDeviceList> m_inner;
};

KCSharedFakeUPnPIGDClient::~KCSharedFakeUPnPIGDClient() = default;

KCUPnPDiscovery KCSharedFakeUPnPIGDClient::discover(uint32_t gatewayAddress)
{
    {
        std::unique_lock door(m_doorMutex);
        ++m_waiting;
        m_door.notify_all();
        m_door.wait_until(door, m_holdUntil, [this] { return !m_held; });
        --m_waiting;
    }
    KCUPnPDiscovery discovery;
    {
        const std::lock_guard lock(m_mutex);
        discovery = m_fake.discover(gatewayAddress);
    }
    if (discovery.devices)
        discovery.devices = std::make_unique<Devices>(*this, std::move(discovery.devices));
    return discovery;
}

void KCSharedFakeUPnPIGDClient::hold(std::chrono::milliseconds deadline)
{
    const std::lock_guard door(m_doorMutex);
    m_held = true;
    m_holdUntil = std::chrono::steady_clock::now() + deadline;
}

void KCSharedFakeUPnPIGDClient::release()
{
    {
        const std::lock_guard door(m_doorMutex);
        m_held = false;
    }
    m_door.notify_all();
}

bool KCSharedFakeUPnPIGDClient::waitUntilHeld(std::chrono::milliseconds deadline)
{
    std::unique_lock door(m_doorMutex);
    return m_door.wait_for(door, deadline, [this] { return m_waiting > 0; });
}

bool KCSharedFakeUPnPIGDClient::isHolding()
{
    const std::lock_guard door(m_doorMutex);
    return m_held && m_waiting > 0;
}
