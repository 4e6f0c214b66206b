#pragma once

#include <cstdint>

namespace ferrow::mapaccess {

// A link's intermediate points, and what the path search derives from the
// points alone, worked out once when the link's tile is decoded: the
// rounded length of every section (as the search measures a section where no
// no-go area or waypoint lies) and the turn at every point, in both
// directions of travel. Points are numbered from the link's first node
// towards its second; section k runs from point k - 1 (the first node for
// k = 0) to point k (the second node for k = pointCount).
//
// The arrays belong to the decoded tile, which the node map keeps alive.
struct LinkShape {
    std::int32_t pointCount = 0;
    const std::int32_t* lons = nullptr;
    const std::int32_t* lats = nullptr;
    const std::int16_t* elevations = nullptr;
    const std::int32_t* distances = nullptr; // pointCount + 1 sections
    // The turn at each point and its cosine, travelling from the first node
    // towards the second and back.
    const double* forwardAngles = nullptr;
    const double* forwardCosines = nullptr;
    const double* backwardAngles = nullptr;
    const double* backwardCosines = nullptr;
};

} // namespace ferrow::mapaccess
