// No-go circles, polygons and polylines: containment, crossings and lengths
// inside, against values worked out by hand for the latitude band of 49.25
// degrees north, where one grid unit is kKx metres east and kKy metres north.
#include <cmath>
#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "router/waypoints/OsmNodeNamed.h"
#include "router/waypoints/OsmNogoPolygon.h"

using ferrow::router::OsmNodeNamed;
using ferrow::router::OsmNogoPolygon;
using Point = OsmNogoPolygon::Point;

namespace {

// Band 1392 (grid latitudes 139200000 to 139299999).
constexpr double kKx = 0.07280722791534137;
constexpr double kKy = 0.11121460995146276;
constexpr std::int32_t kX0 = 188100000;
constexpr std::int32_t kY0 = 139250000;

std::unique_ptr<OsmNodeNamed> circle(double radius, double weight) {
    auto node = std::make_unique<OsmNodeNamed>(kX0, kY0, "nogo");
    node->isNogo = true;
    node->radius = radius;
    node->nogoWeight = weight;
    return node;
}

// The square of side 2000 grid units around (kX0, kY0), counter-clockwise
// from the south-west corner.
std::unique_ptr<OsmNogoPolygon> square(bool closed) {
    auto polygon = std::make_unique<OsmNogoPolygon>(closed);
    polygon->addVertex(kX0 - 1000, kY0 - 1000);
    polygon->addVertex(kX0 + 1000, kY0 - 1000);
    polygon->addVertex(kX0 + 1000, kY0 + 1000);
    polygon->addVertex(kX0 - 1000, kY0 + 1000);
    return polygon;
}

std::unique_ptr<OsmNogoPolygon> triangle(bool closed) {
    auto polygon = std::make_unique<OsmNogoPolygon>(closed);
    polygon->addVertex(0, 0);
    polygon->addVertex(10, 0);
    polygon->addVertex(0, 10);
    return polygon;
}

} // namespace

TEST(OsmNodeNamed, ToStringGivesGridIntegersNameAndWeight) {
    OsmNodeNamed nogo(188100000, 139200000, "nogo50");
    nogo.nogoWeight = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(nogo.toString(), "188100000,139200000,nogo50");
    nogo.nogoWeight = 10;
    EXPECT_EQ(nogo.toString(), "188100000,139200000,nogo50,10.0");
    OsmNodeNamed unnamed(1, 2, std::nullopt);
    EXPECT_EQ(unnamed.toString(), "1,2,null,0.0");
    EXPECT_EQ(unnamed.waypointKind, 1);
    EXPECT_EQ(unnamed.selev, -32768);
}

TEST(DistanceWithinRadius, InsideThroughAndHalfWay) {
    const auto nogo = circle(100, 1);
    // wholly inside: the length passed in
    EXPECT_EQ(nogo->distanceWithinRadius(kX0 - 100, kY0, kX0 + 100, kY0, 12.5), 12.5);
    // through the centre, both ends outside: the diameter
    EXPECT_NEAR(nogo->distanceWithinRadius(kX0 - 2000, kY0, kX0 + 2000, kY0, 4000 * kKx), 200.0, 1e-9);
    // from the centre out, in either direction: the radius
    EXPECT_NEAR(nogo->distanceWithinRadius(kX0, kY0, kX0 + 2000, kY0, 2000 * kKx), 100.0, 1e-9);
    EXPECT_NEAR(nogo->distanceWithinRadius(kX0 + 2000, kY0, kX0, kY0, 2000 * kKx), 100.0, 1e-9);
    // 500 units north of the centre: the chord 2 sqrt(100^2 - (500 ky)^2)
    EXPECT_NEAR(nogo->distanceWithinRadius(kX0 - 2000, kY0 + 500, kX0 + 2000, kY0 + 500, 4000 * kKx),
                166.22668417959855, 1e-9);
}

TEST(DistanceWithinRadius, GrazingSegmentGivesZeroNotNaN) {
    // The segment just touches the circle: the chord is zero, never undefined.
    const auto nogo = circle(500 * kKy, 1);
    const double inside = nogo->distanceWithinRadius(kX0 - 2000, kY0 + 500, kX0 + 2000, kY0 + 500, 4000 * kKx);
    EXPECT_FALSE(std::isnan(inside));
    EXPECT_NEAR(inside, 0.0, 1e-3);
}

TEST(OsmNogoPolygon, ConstructedAsAbsoluteNogoWithoutElevation) {
    const OsmNogoPolygon polygon(true);
    EXPECT_TRUE(polygon.isNogo);
    EXPECT_TRUE(polygon.isClosed);
    EXPECT_EQ(polygon.waypointKind, 1);
    EXPECT_EQ(polygon.selev, -32768);
    EXPECT_EQ(polygon.name, std::string());
    EXPECT_EQ(polygon.asPolygon(), &polygon);
    EXPECT_EQ(OsmNodeNamed(1, 2, "x").asPolygon(), nullptr);
}

TEST(OsmNogoPolygon, TriangleContainment) {
    const auto polygon = triangle(true);
    EXPECT_TRUE(polygon->isWithin(1, 1));
    EXPECT_FALSE(polygon->isWithin(10, 10));
    EXPECT_FALSE(polygon->isWithin(-1, 1));
    EXPECT_FALSE(polygon->isWithin(6, 5));
    EXPECT_TRUE(polygon->isWithin(5, 5)); // on the hypotenuse
    EXPECT_TRUE(polygon->isWithin(5, 0));
    EXPECT_TRUE(polygon->isWithin(0, 5)); // on the closing edge
    EXPECT_TRUE(polygon->isWithin(0, 0));
    EXPECT_TRUE(polygon->isWithin(0, 10));
    // Clockwise order: the winding number is negative, still inside.
    OsmNogoPolygon clockwise(true);
    clockwise.addVertex(0, 0);
    clockwise.addVertex(0, 10);
    clockwise.addVertex(10, 0);
    EXPECT_TRUE(clockwise.isWithin(1, 1));
    EXPECT_FALSE(clockwise.isWithin(9, 9));
}

TEST(OsmNogoPolygon, OnPolylineNeverTestsTheClosingEdge) {
    for (const bool closed : {true, false}) {
        const auto polygon = triangle(closed);
        EXPECT_TRUE(polygon->isOnPolyline(5, 0));
        EXPECT_TRUE(polygon->isOnPolyline(5, 5));
        EXPECT_TRUE(polygon->isOnPolyline(10, 0));
        EXPECT_FALSE(polygon->isOnPolyline(0, 5));
        EXPECT_FALSE(polygon->isOnPolyline(1, 1));
        EXPECT_FALSE(polygon->isOnPolyline(11, 0)); // on the line, beyond the edge
        EXPECT_FALSE(polygon->isOnPolyline(-1, 0));
    }
    OsmNogoPolygon single(false);
    single.addVertex(3, 3);
    EXPECT_FALSE(single.isOnPolyline(3, 3));
}

TEST(OsmNogoPolygon, OpenPolylineHasNoClosingEdge) {
    const auto polyline = triangle(false);
    EXPECT_TRUE(polyline->isWithin(5, 0));
    // (-5,5) to (3,5) crosses only the line of the closing edge
    EXPECT_FALSE(polyline->intersects(-5, 5, 3, 5));
    EXPECT_TRUE(triangle(true)->intersects(-5, 5, 3, 5));
    EXPECT_TRUE(polyline->intersects(3, -2, 3, 2));
}

TEST(Intersect2D, CrossingCollinearAndPointCases) {
    const auto meet = [](Point a0, Point a1, Point b0, Point b1) {
        return OsmNogoPolygon::intersect2D_2Segments(a0, a1, b0, b1);
    };
    EXPECT_EQ(meet({0, 0}, {10, 10}, {0, 10}, {10, 0}), 1); // crossing
    EXPECT_EQ(meet({0, 0}, {4, 4}, {0, 10}, {10, 0}), 0);   // would cross beyond a's end
    EXPECT_EQ(meet({0, 0}, {10, 0}, {5, 0}, {5, 7}), 1);    // T junction
    EXPECT_EQ(meet({0, 0}, {10, 0}, {0, 1}, {10, 1}), 0);   // parallel
    EXPECT_EQ(meet({0, 0}, {10, 0}, {5, 0}, {15, 0}), 2);   // collinear, sharing a piece
    EXPECT_EQ(meet({0, 0}, {10, 0}, {15, 0}, {5, 0}), 2);   // the same, other direction
    EXPECT_EQ(meet({0, 0}, {10, 0}, {10, 0}, {15, 0}), 1);  // collinear, touching at one end
    EXPECT_EQ(meet({0, 0}, {10, 0}, {11, 0}, {15, 0}), 0);  // collinear, disjoint
    EXPECT_EQ(meet({3, 3}, {3, 3}, {3, 3}, {3, 3}), 1);     // equal single points
    EXPECT_EQ(meet({3, 3}, {3, 3}, {3, 4}, {3, 4}), 0);     // different single points
    EXPECT_EQ(meet({3, 0}, {3, 0}, {0, 0}, {10, 0}), 1);    // a point on b
    EXPECT_EQ(meet({0, 0}, {10, 0}, {12, 0}, {12, 0}), 0);  // b a point beyond a
    EXPECT_TRUE(OsmNogoPolygon::inSegment({5, 9}, {5, 0}, {5, 10}));
    EXPECT_FALSE(OsmNogoPolygon::inSegment({5, 11}, {5, 0}, {5, 10}));
    EXPECT_TRUE(OsmNogoPolygon::inSegment({7, 0}, {10, 0}, {0, 0}));
}

TEST(OsmNogoPolygon, BoundingCircle) {
    OsmNogoPolygon single(true);
    single.addVertex(kX0, kY0);
    single.calcBoundingCircle();
    EXPECT_EQ(single.ilon, kX0);
    EXPECT_EQ(single.ilat, kY0);
    EXPECT_EQ(single.radius, 1.0);

    // Two vertices 2000 units apart: the first step moves the centre 499 units
    // towards the first (the +0.5 rounds -499.5 towards zero), the second 499
    // units back towards the other, which leaves it in the middle.
    OsmNogoPolygon pair(false);
    pair.addVertex(kX0, kY0);
    pair.addVertex(kX0 + 2000, kY0);
    pair.calcBoundingCircle();
    EXPECT_EQ(pair.ilon, kX0 + 1000);
    EXPECT_EQ(pair.ilat, kY0);
    EXPECT_NEAR(pair.radius, 1000 * kKx * 1.001 + 1.0, 1e-9);

    OsmNogoPolygon empty(true);
    empty.calcBoundingCircle();
    EXPECT_EQ(empty.ilon, 0);
    EXPECT_EQ(empty.ilat, 0);
    EXPECT_EQ(empty.radius, 1.0);
}

TEST(OsmNogoPolygon, BoundingCircleHoldsEveryVertex) {
    // A fixed pseudo-random set of polygons around the reference point.
    std::uint32_t seed = 12345;
    const auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(range)) - range / 2;
    };
    for (int round = 0; round < 200; ++round) {
        OsmNogoPolygon polygon(true);
        const int count = 1 + (round % 12);
        for (int i = 0; i < count; ++i) polygon.addVertex(kX0 + next(40000), kY0 + next(40000));
        polygon.calcBoundingCircle();
        double farthest = 0;
        for (const Point& p : polygon.points) {
            const double dx = kKx * (polygon.ilon - p.x);
            const double dy = kKy * (polygon.ilat - p.y);
            farthest = std::max(farthest, std::sqrt(dx * dx + dy * dy));
        }
        // the last vertex reached is the farthest one
        EXPECT_NEAR(polygon.radius, farthest * 1.001 + 1.0, 1e-9);
    }
}

TEST(DistanceWithinPolygon, CrossingEndingInsideAndAlongAnEdge) {
    const auto polygon = square(true);
    // entering and leaving through two edges: the width, 2000 units east
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 - 3000, kY0, kX0 + 3000, kY0), 2000 * kKx, 1e-9);
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 + 3000, kY0, kX0 - 3000, kY0), 2000 * kKx, 1e-9);
    // ending at the centre: from the crossing to the end
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 - 3000, kY0, kX0, kY0), 1000 * kKx, 1e-9);
    // wholly inside: no crossing, the whole segment
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 - 500, kY0, kX0 + 500, kY0), 1000 * kKx, 1e-9);
    // missing the square
    EXPECT_EQ(polygon->distanceWithinPolygon(kX0 - 3000, kY0 + 2000, kX0 + 3000, kY0 + 2000), 0.0);
    // along the bottom edge from inside it to beyond its east end: the shared piece, 1500 units
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 - 500, kY0 - 1000, kX0 + 3000, kY0 - 1000), 1500 * kKx, 1e-9);
    // slanted: in at (-1000, 0), out at (1000, 500)
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 - 2000, kY0 - 250, kX0 + 2000, kY0 + 750),
                std::hypot(2000 * kKx, 500 * kKy), 1e-9);
    // through two corners: every edge meets it at a corner
    EXPECT_NEAR(polygon->distanceWithinPolygon(kX0 - 2000, kY0 - 2000, kX0 + 2000, kY0 + 2000),
                std::hypot(2000 * kKx, 2000 * kKy), 1e-9);
}

TEST(DistanceWithinPolygon, CollinearTouchHasACrossingPoint) {
    // The segment continues the bottom edge's line and touches it only at its
    // east corner: a single meeting point on one line, where the two lines
    // have no crossing point to compute.
    const auto polygon = square(true);
    EXPECT_EQ(polygon->distanceWithinPolygon(kX0 + 1000, kY0 - 1000, kX0 + 3000, kY0 - 1000), 0.0);
    EXPECT_EQ(polygon->distanceWithinPolygon(kX0 + 3000, kY0 - 1000, kX0 + 1000, kY0 - 1000), 0.0);
    // a zero-length segment on an edge
    EXPECT_EQ(polygon->distanceWithinPolygon(kX0, kY0 - 1000, kX0, kY0 - 1000), 0.0);
}

TEST(DistanceWithinPolygon, PolylineCountsOnlyOverlaps) {
    const auto polyline = square(false);
    EXPECT_EQ(polyline->distanceWithinPolygon(kX0 - 3000, kY0, kX0 + 3000, kY0), 0.0);
    EXPECT_NEAR(polyline->distanceWithinPolygon(kX0 - 500, kY0 - 1000, kX0 + 3000, kY0 - 1000), 1500 * kKx, 1e-9);
}
