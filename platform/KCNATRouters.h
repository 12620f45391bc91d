#pragma once

#include "KCNATServerEpoch.h"
#include "KCTimerSource.h"

#include <QHostAddress>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QUdpSocket;

// What the open port-mapping requests share about the routers they talk to: which protocol each
// router speaks, each router's epoch, and the router announcements on the multicast group.
// Requests join it while they are open; a router that lost its mappings, or that announces
// itself, is told to every request on it. Addresses are IPv4 in host byte order.
class KCNATRouters {
public:
    class Member {
    public:
        virtual ~Member() = default;
        // The router forgot its mappings: ask again. Must not destroy the member.
        virtual void routerLostState() = 0;
        // The router announced itself, with its public address if it sent one. `restarted`
        // unless the announcement repeats an earlier one of the router's same run. Must not
        // destroy the member.
        virtual void routerAnnounced(bool restarted, std::optional<uint32_t> publicAddress) = 0;
    };

    enum class Speaks { Unknown, Yes, No };
    struct Facts {
        Speaks pcp = Speaks::Unknown;
        Speaks natPmp = Speaks::Unknown;
        KCNATServerEpoch epoch;
        // The epochs of the router's announcements alone. A router announces itself several
        // times after it starts (and NAT-PMP ones when their address changes); a router that
        // restarted within a second or two of our last packet has an epoch that looks right.
        // So an announcement means a restart unless it continues the router's previous one.
        KCNATServerEpoch announcements;
    };

    KCNATRouters(KCTimerSource &timers, uint16_t serverPort, QHostAddress announcementGroup, uint16_t announcementPort);
    ~KCNATRouters();
    KCNATRouters(const KCNATRouters &) = delete;
    KCNATRouters &operator=(const KCNATRouters &) = delete;

    // Listens for announcements on the router's interface (and only there) while the member is
    // joined.
    void join(Member *member, uint32_t router, uint32_t interfaceIndex);
    void leave(Member *member);

    Facts &facts(uint32_t router) { return m_facts[router]; }

    // Takes the epoch of a packet from the router. When the router must have lost its mappings,
    // every member on it hears routerLostState() before this returns false.
    bool observeEpoch(uint32_t router, KCNATServerEpoch::Rule rule, uint32_t epoch);

    // The port announcements are received on; 0 while no request is open.
    uint16_t announcementListenPort() const;

private:
    struct Joined {
        Member *member;
        uint32_t router;
        uint32_t interfaceIndex;
    };

    void ensureListening();
    void setMembership(uint32_t interfaceIndex, bool joined);
    void readAnnouncements();
    void handleAnnouncement(const QByteArray &datagram, const QHostAddress &sender, uint16_t senderPort);
    void ignoreAnnouncement(const QString &why);
    std::vector<Member *> membersOn(uint32_t router) const;

    KCTimerSource &m_timers;
    const uint16_t m_serverPort;
    const QHostAddress m_group;
    const uint16_t m_announcementPort;
    std::map<uint32_t, Facts> m_facts;
    std::vector<Joined> m_members;
    std::map<uint32_t, int> m_interfaceUse;
    std::unique_ptr<QUdpSocket> m_listener;
    bool m_loggedListenFailure = false;
    bool m_loggedIgnored = false;
};
