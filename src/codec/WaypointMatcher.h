#pragma once

#include <cstdint>

namespace ferrow::codec {

// Receives the geometry of every usable forward way segment while a tile is
// decoded, so that waypoints can be matched to the nearest segment.
class WaypointMatcher {
public:
    virtual ~WaypointMatcher() = default;

    // The current way has no further points; the matcher checks its last segment.
    virtual void end() = 0;
    // Not called by the tile decoders.
    virtual bool hasMatch(std::int32_t ilon, std::int32_t ilat) = 0;
    // A way from the decoded node to the link's target begins; false means the
    // matcher does not want it and is fed nothing more for it.
    virtual bool start(std::int32_t ilonStart, std::int32_t ilatStart, std::int32_t ilonTarget, std::int32_t ilatTarget,
                       bool isStartWay) = 0;
    // The next intermediate point of the current way.
    virtual void transferNode(std::int32_t ilon, std::int32_t ilat) = 0;

protected:
    WaypointMatcher() = default;
    WaypointMatcher(const WaypointMatcher&) = default;
    WaypointMatcher& operator=(const WaypointMatcher&) = default;
};

} // namespace ferrow::codec
