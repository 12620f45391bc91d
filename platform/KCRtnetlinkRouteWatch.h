#pragma once

#include "KCRouteWatch.h"
#include "KCRtnetlinkSocket.h"

#include <memory>
#include <optional>

class QSocketNotifier;

// Watches route, address and link events on a routing-netlink socket of its own. A watch whose
// socket cannot be made logs why and stays silent.
class KCRtnetlinkRouteWatch final : public KCRouteWatch {
    Q_OBJECT
public:
    explicit KCRtnetlinkRouteWatch(const KCRtnetlinkSocket::Opener &opener = KCRtnetlinkSocket::openInCurrentNamespace,
                                   QObject *parent = nullptr);
    ~KCRtnetlinkRouteWatch() override;

    bool isWatching() const { return m_socket.has_value(); }

private:
    void drain();

    std::optional<KCRtnetlinkSocket> m_socket;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
