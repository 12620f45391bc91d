#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// Tracks a router's epoch, the seconds since it last lost its mapping state, against our own
// clock, to notice a router that restarted (or otherwise forgot its mappings) between two of
// its packets.
class KCNATServerEpoch {
public:
    enum class Rule {
        NatPmp, // RFC 6886, section 3.6
        Pcp,    // RFC 6887, section 8.5
    };

    // Takes the epoch of a packet from the router received at `now` on our clock. Returns false
    // when the router must have lost its mappings since its previous packet. The first packet
    // is always believed.
    bool observe(uint32_t epoch, std::chrono::milliseconds now, Rule rule);

    bool known() const { return m_previous.has_value(); }

private:
    struct Sample {
        uint32_t epoch;
        std::chrono::milliseconds clock;
    };
    std::optional<Sample> m_previous;
};
