#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "router/MessageData.h"

namespace ferrow::router {

// A track point: a grid position with elevation, the path cost there, the
// record of the section ending here and the point before it. Points form a
// chain from the end of a track back to its start; `origin` does not own:
// the points of a track are owned by the track (OsmTrack::points), and
// during a search by the search's element store.
struct OsmPathElement {
    std::int32_t ilat = 0;
    std::int32_t ilon = 0;
    std::int16_t selev = 0; // quarter metres, -32768 for none
    std::int32_t cost = 0;
    std::unique_ptr<MessageData> message;
    OsmPathElement* origin = nullptr;

    std::int32_t getILat() const { return ilat; }
    std::int32_t getILon() const { return ilon; }
    std::int16_t getSElev() const { return selev; }
    double getElev() const { return selev * 0.25; }
    std::int64_t getIdFromPos() const {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(ilon)) << 32 |
                                         static_cast<std::uint64_t>(static_cast<std::int64_t>(ilat)));
    }
    bool positionEquals(const OsmPathElement& other) const { return ilat == other.ilat && ilon == other.ilon; }
    std::string toString() const { return std::to_string(ilon) + "_" + std::to_string(ilat); }
};

} // namespace ferrow::router
