#pragma once

#include "KCDaemonPortMapper.h"

// The mappers of a daemon built without a way to reach the router: each attempt logs that port
// mapping is not available and ends, on the next turn of the event loop, with "service not
// running" (-65563) and no port. The daemon then reports that status, retries on its usual
// schedule and still tells the account service about its accounts.
class KCDaemonUnavailablePortMapperFactory final : public KCDaemonPortMapperFactory {
public:
    std::unique_ptr<KCDaemonPortMapper> createPortMapper(KCDaemonPortMapperDelegate *delegate) override;
};
