#pragma once

#include "KCConnectedUdpSocket.h"
#include "KCDeadlineTimer.h"
#include "KCNATPortMappingService.h"
#include "KCNATRouters.h"
#include "KCNatPmpPcpWire.h"

#include <QObject>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// One open request of the NAT-PMP/PCP client: its socket to the router, the mappings it asked
// for, their retransmission, renewal and deletion, and the replies to the caller.
//
// TCP and UDP together are two mappings asked for the same public port and answered as one.
// The caller hears of a mapping only when every protocol asked for is mapped; when the router
// gives UDP another public port than TCP, the TCP mapping is kept and reported (the services
// forwarded speak TCP, and one public port is all the caller passes on) and the UDP mapping is
// deleted again, so no mapping stays behind that nobody knows of; the reply's protocol is then
// TCP alone.
//
// An address-only request (internal port 0) asks NAT-PMP for the public address. A router that
// speaks only PCP has no such question; it gets a MAP of the request's own UDP socket port for
// the shortest lease a router grants, deleted again as soon as it is answered. Either way the
// address is asked for again on the schedule a mapping of the requested lease is renewed on.
class KCNatPmpPcpRequest final : public KCNATPortMappingRequest, private KCNATRouters::Member {
public:
    KCNatPmpPcpRequest(std::shared_ptr<KCNATRouters> routers, KCTimerSource &timers,
                       const KCNATPortMappingParameters &parameters, KCNATPortMappingService::ReplyHandler onReply);
    ~KCNatPmpPcpRequest() override;

    // Opens the socket to the router and sends the first request. Returns 0, or the code of a
    // failure the caller hears of now instead of through a reply.
    int32_t start(uint32_t router, uint32_t interfaceIndex, uint16_t serverPort);
    // There is no router to ask: the caller gets -65566 from the event loop, and nothing more.
    void startWithoutRouter();

private:
    enum class Protocol { NatPmp, Pcp };
    enum class Exchange { None, Create, Renew };
    enum class Kind { Address, UDP, TCP };

    struct Item {
        Kind kind;
        KCNatPmpPcpWire::Nonce nonce{};
        bool active = true;    // part of what the caller was told of (or asked for)
        bool mayExist = false; // a mapping request went out that no deletion has followed
        bool awaiting = false; // sent in the exchange under way and not answered yet
        // The answer in the exchange under way.
        int32_t answerCode = 0;
        uint16_t answerPort = 0;
        uint32_t answerAddress = 0;
        uint32_t answerLease = 0;
        // What the router granted last.
        uint16_t externalPort = 0;
        uint32_t externalAddress = 0;
        uint32_t lease = 0;
    };

    void routerLostState() override;
    void routerAnnounced(bool restarted, std::optional<uint32_t> publicAddress) override;

    Protocol chooseProtocol() const;
    void startCreate(bool deliverAlways);
    void beginCreateTries();
    void sendCreateTry();
    void onRetransmitTimer();
    void switchProtocol();
    void finishCreate(std::optional<int32_t> failure);
    void startLease();
    void scheduleRenewal();
    void onRenewTimer();
    void sendRenewal();
    void finishRenewal();
    void leaseRanOut();
    void acceptAnswers();

    void send(Item &item, bool deleting);
    void deleteMappings();
    void onDatagram(const KCConnectedUdpSocket::Datagram &datagram);
    void onRefused();
    void handleResponse(const KCNatPmpPcpWire::Response &response);
    bool isVersionMismatch(const KCNatPmpPcpWire::Response &response) const;
    Item *matchItem(const KCNatPmpPcpWire::Response &response, QString *why);
    void ignore(const QString &why);

    bool addressOnly() const { return m_parameters.internalPort == 0; }
    bool participates(const Item &item) const;
    uint32_t publicAddressGranted() const;
    bool anyAwaiting() const;
    uint32_t activeProtocols() const;
    KCNATPortMappingReply successReply() const;
    KCNATPortMappingReply errorReply(int32_t code) const;
    // Must be the last thing its caller does: the handler may destroy the request.
    void deliver(const KCNATPortMappingReply &reply);

    std::shared_ptr<KCNATRouters> m_routers;
    KCTimerSource &m_timers;
    const KCNATPortMappingParameters m_parameters;
    const uint32_t m_requestedLease;
    KCNATPortMappingService::ReplyHandler m_onReply;

    uint32_t m_router = 0;
    uint32_t m_interfaceIndex = 0;
    uint16_t m_serverPort = 0;
    bool m_joined = false;
    std::unique_ptr<KCConnectedUdpSocket> m_socket;
    std::vector<Item> m_items; // TCP before UDP: the first is the one the reply describes

    Protocol m_protocol = Protocol::Pcp;
    Exchange m_exchange = Exchange::None;
    int m_tries = 0;
    bool m_switched = false;
    bool m_deliverAlways = false;
    bool m_mapped = false;

    std::chrono::milliseconds m_lastSend{0};
    std::chrono::milliseconds m_grantTime{0};
    std::chrono::milliseconds m_expiry{0};
    uint32_t m_lease = 0;
    int m_renewAttempts = 0;
    int32_t m_renewError = 0;
    bool m_renewTimerEndsLease = false;

    std::optional<KCNATPortMappingReply> m_lastReply;
    bool m_loggedIgnored = false;

    std::unique_ptr<KCTimer> m_retransmitTimer;
    KCDeadlineTimer m_renewTimer;
    // Owns queued deliveries, which die with the request.
    QObject m_context;
};
