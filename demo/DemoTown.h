#pragma once

#include <cstdint>

#include "testsupport/TestNetwork.h"

namespace ferrow::demo {

// The demo data set: a small town on a river and the country around it,
// described in DemoTown.cpp and written as segment files by WriteDemoTown.
//
// The town centre lies at 10.0 E, 47.52 N, right on the edge between the
// segment files E5_N45 (west) and E10_N45 (east); the whole area spans about
// 12 x 10 km, a dozen tiles of 1/80 degree from west to east.
inline constexpr double CENTRE_LON = 10.0;
inline constexpr double CENTRE_LAT = 47.52;

// Grid bounds of everything the town holds (nodes and shape points).
struct Bounds {
    std::int32_t minLon;
    std::int32_t minLat;
    std::int32_t maxLon;
    std::int32_t maxLat;
};

testsupport::TestNetwork buildDemoTown();
Bounds boundsOf(const testsupport::TestNetwork& network);

} // namespace ferrow::demo
