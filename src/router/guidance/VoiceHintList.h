#pragma once

#include <cstdint>
#include <vector>

#include "router/guidance/VoiceHint.h"

namespace ferrow::router {

// The turn instructions of a track, in travel order.
struct VoiceHintList {
    static constexpr std::int32_t TRANSPORT_MODE_FOOT = 1;
    static constexpr std::int32_t TRANSPORT_MODE_BIKE = 2;
    static constexpr std::int32_t TRANSPORT_MODE_CAR = 3;

    std::vector<VoiceHint> hints;
    std::int32_t transportMode = 0;
    // The routing context's mode when the list was made.
    std::int32_t turnInstructionMode = 0;

    void setTransportMode(bool isCar, bool isBike) {
        transportMode = isCar ? TRANSPORT_MODE_CAR : isBike ? TRANSPORT_MODE_BIKE : TRANSPORT_MODE_FOOT;
    }
};

} // namespace ferrow::router
