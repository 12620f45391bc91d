#pragma once

#include "KCInterfaceList.h"

// The interface list of the calling thread's network namespace, from getifaddrs().
class KCGetifaddrsInterfaceList final : public KCInterfaceList {
public:
    QList<KCInterfaceAddress> interfaceAddresses() const override;
};
