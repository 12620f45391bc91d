#pragma once

#include "KCUPnPIGDClient.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>

// A scripted gateway for the UPnP jobs' tests: what discovery finds, how the router answers each
// call, and the mapping table it keeps. Every call is recorded, and the live device lists and
// sessions are counted so a test can see that each path released what it opened. It is not
// thread-safe: a test that runs jobs on a worker thread reads it only while no job runs.
class KCFakeUPnPIGDClient final : public KCUPnPIGDClient {
public:
    struct Script {
        bool deviceAnswers = true;
        bool discoveryReportsError = false;
        int validIGDResult = KCUPnPValidIGD::ConnectedIGD;
        QByteArray rootDescriptionURL = "http://192.168.1.1:5000/rootDesc.xml";
        QByteArray serviceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
        QByteArray lanAddress = "192.168.1.10";
        QByteArray wanAddress;
        std::optional<QByteArray> rootDescription;
        int externalIPResult = 0;
        QByteArray externalIPAddress = "203.0.113.7";
        // Answers to AddPortMapping per protocol ("TCP", "UDP"), used up in order; 0 once empty.
        QMap<QByteArray, QList<int>> addReplies;
    };

    struct Mapping {
        uint16_t internalPort = 0;
        QByteArray internalClient;
        QByteArray description;
        QByteArray leaseDuration;
        friend bool operator==(const Mapping &, const Mapping &) = default;
    };
    using MappingKey = QPair<uint16_t, QByteArray>; // external port, protocol

    KCUPnPDiscovery discover(uint32_t gatewayAddress) override;

    Script script;
    // The router's table: added on an accepted AddPortMapping, removed by DeletePortMapping.
    QMap<MappingKey, Mapping> mappings;
    // "discover 192.168.1.1", "AddPortMapping TCP 12345", "DeletePortMapping UDP 12345",
    // "GetExternalIPAddress", "GetSpecificPortMappingEntry TCP 12345", "fetchRootDescription".
    QStringList calls;
    int liveDeviceLists = 0;
    int liveSessions = 0;

    // The external ports of the AddPortMapping calls for a protocol, in order.
    QList<uint16_t> addedPorts(const QByteArray &protocol) const;
};
