#pragma once

#include "KCRoutingTables.h"
#include "KCRtnetlinkSocket.h"

// The routing and neighbour tables read through routing netlink, a fresh socket per read.
class KCRtnetlinkRoutingTables final : public KCRoutingTables {
public:
    explicit KCRtnetlinkRoutingTables(KCRtnetlinkSocket::Opener opener = KCRtnetlinkSocket::openInCurrentNamespace);

    std::optional<KCGlobalIPv4State> defaultIPv4Route() const override;
    Neighbours ipv4Neighbours() const override;

private:
    KCRtnetlinkSocket::Opener m_opener;
};
