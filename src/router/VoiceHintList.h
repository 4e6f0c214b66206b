#pragma once

#include <cstdint>
#include <vector>

namespace ferrow::router {

// A turn instruction at a track point. Only what joining tracks needs is here
// so far; the turn-instruction computation adds its commands and angles.
struct VoiceHint {
    // Index of the hint point in the track's points.
    std::int32_t trackIndex = 0;
};

// The turn instructions of a track.
struct VoiceHintList {
    std::vector<VoiceHint> hints;
};

} // namespace ferrow::router
