#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>

#include "router/OsmPathElement.h"

namespace ferrow::router {

// The result of a routing run: the track points in travel order and the
// totals the service prints. The track owns its points; their `origin`
// pointers refer to earlier points of the same track (or are null).
class OsmTrack {
public:
    // The header row of the message table.
    static constexpr std::string_view messagesHeader =
        "Longitude\tLatitude\tElevation\tDistance\tCostPerKm\tElevCost\tTurnCost\tNodeCost\tInitialCost\t"
        "WayTags\tNodeTags\tTime\tEnergy";

    // Inserts at the front: a search adds the points of its element chain
    // from the end backwards, which yields travel order.
    void addNode(std::unique_ptr<OsmPathElement> element) { points.push_front(std::move(element)); }

    std::deque<std::unique_ptr<OsmPathElement>> points;
    std::int32_t distance = 0;       // metres
    std::int32_t filteredAscend = 0; // whole metres
    std::int32_t plainAscend = 0;    // whole metres
    std::int32_t cost = 0;
    std::int32_t energy = 0; // joules
};

} // namespace ferrow::router
