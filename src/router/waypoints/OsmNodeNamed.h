#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mapaccess/OsmNode.h"

namespace ferrow::router {

class OsmNogoPolygon;

// A named point on the grid: a waypoint, a point of interest or a no-go
// circle (centred on the node's position).
class OsmNodeNamed : public mapaccess::OsmNode {
public:
    static constexpr std::int8_t KIND_ORDINARY = 1;
    static constexpr std::int8_t KIND_VIA = 2;
    static constexpr std::int8_t KIND_STRAIGHT = 3;

    OsmNodeNamed() = default;
    // Kind 1 at the position, without elevation.
    OsmNodeNamed(std::int32_t lon, std::int32_t lat, std::optional<std::string> pointName);

    bool isNogo = false;
    std::int8_t waypointKind = 0;
    std::optional<std::string> name;
    double radius = 0.0; // metres
    // NaN: an absolute no-go; otherwise a cost factor per metre inside a circle
    // or closed polygon, or a fixed cost per crossing of a polyline.
    double nogoWeight = 0.0;

    // "ilon,ilat,name", and ",weight" when the weight is not NaN.
    std::string toString() const override;

    // Metres of the segment inside the circle; the segment must reach into it.
    double distanceWithinRadius(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2,
                                double totalSegmentLength) const;

    // The polygon or polyline this is, or null for a circle or a plain point.
    OsmNogoPolygon* asPolygon() noexcept { return polygon_; }
    const OsmNogoPolygon* asPolygon() const noexcept { return polygon_; }

protected:
    // Set by the polygon's constructor, so the segment pricing needs no dynamic cast.
    OsmNogoPolygon* polygon_ = nullptr;
};

// Waypoints, points of interest and no-go areas of a request. The elements are
// shared: the no-go list is copied by the engine and a waypoint may stand in
// front of it while a search catches it.
using OsmNodeNamedList = std::vector<std::shared_ptr<OsmNodeNamed>>;

} // namespace ferrow::router
