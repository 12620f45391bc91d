#pragma once

#include "KCRouteWatch.h"

// A route watch a test fires by hand.
class KCFakeRouteWatch final : public KCRouteWatch {
    Q_OBJECT
public:
    using KCRouteWatch::KCRouteWatch;
    void fire() { Q_EMIT routingChanged(); }
};
