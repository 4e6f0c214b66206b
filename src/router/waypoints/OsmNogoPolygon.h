#pragma once

#include <cstdint>
#include <vector>

#include "router/waypoints/OsmNodeNamed.h"

namespace ferrow::router {

// A no-go polygon (closed) or polyline (open). The node's position and radius
// are the bounding circle of the vertices, so that the circle tests of the
// segment pricing rule out far segments before the edges are walked.
class OsmNogoPolygon final : public OsmNodeNamed {
public:
    struct Point {
        std::int32_t x; // grid longitude
        std::int32_t y; // grid latitude
        bool operator==(const Point&) const = default;
    };

    explicit OsmNogoPolygon(bool closed);
    OsmNogoPolygon(const OsmNogoPolygon&) = delete;
    OsmNogoPolygon& operator=(const OsmNogoPolygon&) = delete;

    std::vector<Point> points;
    bool isClosed;

    void addVertex(std::int32_t lon, std::int32_t lat) { points.push_back({lon, lat}); }

    // Sets the node's position and radius to a circle holding every vertex.
    void calcBoundingCircle();

    // Whether the segment meets any edge.
    bool intersects(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2) const;
    // Inside, or on an edge (winding number over the edges).
    bool isWithin(std::int64_t lon, std::int64_t lat) const;
    // On one of the vertex-to-next-vertex segments; never the closing edge.
    bool isOnPolyline(std::int64_t lon, std::int64_t lat) const;
    // Metres of the segment inside a closed polygon, plus lengths shared with edges.
    double distanceWithinPolygon(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2) const;

    // 0: the segments do not meet; 1: they meet in exactly one point; 2: they
    // overlap along a piece.
    static int intersect2D_2Segments(const Point& a0, const Point& a1, const Point& b0, const Point& b1);
    // For p on the line through s0 and s1: whether p lies between them.
    static bool inSegment(const Point& p, const Point& s0, const Point& s1);

private:
    // Calls visit(A, B) for each edge in edge order until it returns true;
    // returns whether one did.
    template <typename Visit>
    bool anyEdge(Visit&& visit) const;
};

} // namespace ferrow::router
