#pragma once

#include "testsupport/SegmentWriter.h"
#include "testsupport/TestNetwork.h"

// Two small places with road layouts that real segment files hold and that
// have gone wrong, both inside the segment file E5_N50 and far enough apart
// not to touch each other. The requests below are service queries (profiles
// named from the checkout).
namespace ferrow::testsupport::oddsites {

// Two tertiary ways between the same two nodes, W (8.04 E, 50.01 N) and E
// (8.045 E, 50.01 N): one bends south through (8.0425, 50.0097), the other
// north through (8.0425, 50.0103). A point on one of them lies on a segment
// of its own, although both join the same two nodes.
void addParallelWays(TestNetwork& network);

// A street along 50.005 N from A (8.0 E) to B (8.01 E), drawn as two ways
// that end and start at two nodes at the same position, 8.0045 E (one tile
// holds both); the route below runs 222 m along the street across it.
inline constexpr const char* SHARED_POSITION_ROUTE_REQUEST =
    "profile=profiles/car.vpf&lonlats=8.0031,50.00502;8.0062,50.00502";
inline constexpr double SHARED_POSITION_LON = 8.0045;
inline constexpr double SHARED_POSITION_LAT = 50.005;
void addSharedPosition(TestNetwork& network);

// Both places in one network.
TestNetwork build();

// A writer that lets nodes share a position in E5_N50.
SegmentWriter writer();

} // namespace ferrow::testsupport::oddsites
