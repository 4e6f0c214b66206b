#pragma once

#include <cstdint>

namespace ferrow::mapaccess {

// One intermediate point of a link, in a list made by GeometryDecoder.
struct OsmTransferNode {
    OsmTransferNode* next = nullptr;
    std::int32_t ilon = 0;
    std::int32_t ilat = 0;
    // Quarter metres.
    std::int16_t selev = 0;
};

} // namespace ferrow::mapaccess
