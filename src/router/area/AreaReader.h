#pragma once

#include <cstdint>
#include <vector>

#include "codec/DataBuffers.h"
#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/PhysicalFile.h"
#include "router/area/AreaInfo.h"
#include "router/waypoints/OsmNodeNamed.h"
#include "router/waypoints/OsmNogoPolygon.h"

namespace ferrow::expressions {
class BExpressionContextWay;
}

namespace ferrow::router {

class RoutingContext;

// Fills the direction sectors of a round trip's start with way statistics:
// either from an area-info cache file, or by reading the tiles around the
// start straight from the segment files, without building a search graph.
class AreaReader {
public:
    // Grid units of a scan cell's side: 1/32 degree.
    static constexpr std::int32_t CELL_SIZE = 31250;

    // Counts the ways of the tiles at the probe points around start (up to
    // maxscale cells away in each direction) that touch the search rectangle
    // into the sectors. A failure to group the cells or to open a segment
    // file empties the sectors; a failure inside one tile only ends its count.
    static void getDirectAllData(const jcompat::File& segmentDir, RoutingContext& rc, const OsmNodeNamed& start,
                                 std::int32_t maxscale, expressions::BExpressionContextWay& wayContext,
                                 const OsmNogoPolygon& searchRect, std::vector<AreaInfo>& sectors);

    // Counts the nodes of the tile at (ilon, ilat) into the first sector
    // holding each: false when the file has no data for the point's
    // one-degree square or the tile failed, else true.
    static bool getDirectData(mapaccess::PhysicalFile& file, codec::DataBuffers& buffers, std::int32_t ilon,
                              std::int32_t ilat, expressions::BExpressionContextWay& wayContext,
                              std::vector<AreaInfo>& sectors);

    // Whether the probe point at these cell offsets lies in the centre block
    // that the scan leaves out (none up to maxscale 2).
    static bool ignoreCenter(std::int32_t maxscale, std::int32_t lonOffset, std::int32_t latOffset);
    // Whether both points lie within the polygon.
    static bool containsRect(const OsmNogoPolygon& polygon, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                             std::int32_t y2);

    // Appends the four sectors of the cache file when its waypoint and
    // radius fit the given ones (within 500 grid units in at least one
    // coordinate, within 500 m of radius); an input failure leaves the
    // sectors empty. sectors must be empty on entry.
    static void readAreaInfo(const jcompat::File& file, const mapaccess::MatchedWaypoint& waypoint,
                             std::vector<AreaInfo>& sectors);
};

} // namespace ferrow::router
