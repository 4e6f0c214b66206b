#pragma once

#include <functional>

#include "router/costing/OsmPathElement.h"

namespace ferrow::router {

class OsmTrack;
class RoutingContext;

// The two steps that finish a joined route track: elevations for the points
// that have none, then the per-point section lengths and turn angles, the
// totals the service prints (length, filtered and plain ascent, energy) and
// the time and energy of straight-line segments.
struct TrackTotals {
    // The descent buffer's floor at a point, in metres (negative).
    using ElevationFloor = std::function<double(const OsmPathElement&)>;

    // Fills gaps of missing elevations: a gap between known elevations along a
    // straight gradient (or along the ways' incline tags, read as elevation
    // units per 100 metres), a leading gap with the first known elevation, a
    // last point with the one before it.
    static void fillMissingElevations(OsmTrack& track);

    // Sets each point's section length and turn angle and the track's
    // distance, filteredAscend, plainAscend and energy; sections that took
    // exactly one second (straight-line segments) get the time of the track's
    // slowest section speed and a rolling, climbing and air-drag energy.
    static void recalculate(OsmTrack& track, RoutingContext& rc, const ElevationFloor& elevationFloor);
};

} // namespace ferrow::router
