#pragma once

#include <cstdint>
#include <vector>

#include "mapaccess/LinkGeometry.h"
#include "util/ByteArray.h"

namespace ferrow::mapaccess {

// One intermediate point of a link with what the search derives from the
// points alone: the rounded length of the section that ends here (as the
// search measures a section where no no-go area or waypoint lies) and the turn
// here, travelling from the link's first node towards its second and back.
// Kept together, so that walking a link reads one record a point.
struct ShapePoint {
    double forwardAngle;
    // The same both ways.
    double cosine;
    std::int32_t lon;
    std::int32_t lat;
    std::int32_t distance;
    std::int16_t elevation;

    // Travelling back the turn is the mirror image, but for straight on and
    // right back, which read the same both ways (the angle meter gives +0 and
    // 180 for them either way). Only points for which this holds get a shape.
    double angle(bool backward) const noexcept {
        return backward && forwardAngle != 0.0 && forwardAngle != 180.0 ? -forwardAngle : forwardAngle;
    }
};

// A link's intermediate points, worked out once when the link's tile is
// decoded. Points are numbered from the link's first node towards its second;
// section k runs from point k - 1 (the first node for k = 0) to point k (the
// second node for k = pointCount). The link holds it by value; the points
// belong to the decoded tile, which the node map keeps alive.
struct LinkShape {
    const ShapePoint* points = nullptr;
    std::int32_t pointCount = 0;
    // The length of the last section; 0 for a link without a shape.
    std::int32_t lastDistance = 0;

    bool present() const noexcept { return lastDistance > 0; }
    std::int32_t sectionLength(std::int32_t k) const noexcept {
        return k < pointCount ? points[k].distance : lastDistance;
    }
};

// What the links woven from one decoded tile point into: their shape points
// and their coded points (each preceded by its length, as LinkGeometry reads
// them). A graph keeps it for as long as it holds links of the tile; the rest
// of the tile may go.
struct TileLinkData {
    TileLinkData() = default;
    TileLinkData(const TileLinkData&) = delete;
    TileLinkData& operator=(const TileLinkData&) = delete;
    ~TileLinkData() {
        if (!geometryBytes.empty()) LinkGeometry::noteStorageFreed();
    }

    std::vector<ShapePoint> shapePoints;
    std::vector<util::Byte> geometryBytes;
};

} // namespace ferrow::mapaccess
