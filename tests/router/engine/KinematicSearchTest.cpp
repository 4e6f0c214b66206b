#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

// A kinematic profile: every way costs 1 per metre on top of the physics;
// trunk roads rank above the rest. Nodes limit nothing.
std::string kinematicProfile(const std::string& globals, const std::string& maxspeed) {
    return "---model:ferrow.router.KinematicModel\n"
           "---context:global\nassign validForCars true\n" +
           globals +
           "\n---context:way\n"
           "assign costfactor 1\n"
           "assign maxspeed " +
           maxspeed +
           "\n"
           "assign priorityclassifier switch highway=trunk 30 26\n"
           "---context:node\nassign initialcost 0\nassign maxspeed 999\n";
}

// The vehicle on a bench: without air resistance it drives with the rolling
// resistance of 232 N as its force, so its speed grows by 232 / 1640 m/s
// every second up to the limit of 36 km/h (10 m/s), a limit it reaches after
// 1640 x 10 / 232 s and 0.5 x 1640 x 10^2 / 232 m; it then cruises. Each
// section's energy is the force times its length plus half the standby power
// of 250 W over its time.
constexpr double kMass = 1640;
constexpr double kForce = 232;
constexpr double kLimit = 10;
constexpr double kStandby = 250;

// A straight road P - A - B - Q at 50 N; the trip runs from halfway P - A to
// halfway B - Q.
struct StraightRoad {
    StraightRoad() {
        p = net.node(7.995, 50.000);
        a = net.node(8.000, 50.000);
        b = net.node(8.010, 50.000);
        q = net.node(8.015, 50.000);
        net.way("highway=primary", {p, a, b, q});
    }
    TestNetwork net;
    NodeRef p, a, b, q;
};

// The trip searched and re-tracked with the bench profile, and its three
// sections' lengths: start to A, A to B, B to the end.
struct Trip {
    std::shared_ptr<OsmTrack> found;
    std::shared_ptr<OsmTrack> track;
    std::int32_t d1 = 0, d2 = 0, d3 = 0;
};

Trip drive(const StraightRoad& road, SearchFixture& f) {
    f.load(road.net, kinematicProfile("assign f_air 0", "36"));
    const auto from = f.on(road.p, road.a);
    const auto to = f.on(road.b, road.q);
    Trip trip;
    trip.found = f.search(from, to);
    if (trip.found) trip.track = f.retrack(from, to, trip.found);
    const auto& a = f.at(road.a);
    const auto& b = f.at(road.b);
    trip.d1 = metres(from.crossPoint->ilon, from.crossPoint->ilat, a.ilon, a.ilat);
    trip.d2 = f.metresBetween(road.a, road.b);
    trip.d3 = metres(b.ilon, b.ilat, to.crossPoint->ilon, to.crossPoint->ilat);
    return trip;
}

// Time and energy of the whole route from the formulas above.
TEST(KinematicRoute, TimeAndEnergyOfAStraightTrip) {
    StraightRoad road;
    SearchFixture f;
    const Trip trip = drive(road, f);
    ASSERT_TRUE(trip.track);
    const OsmTrack& found = *trip.found;
    const OsmTrack& track = *trip.track;
    const std::int32_t d1 = trip.d1, d2 = trip.d2, d3 = trip.d3;
    const double length = d1 + d2 + d3;
    const double accelerationTime = kMass * kLimit / kForce;                  // 70.7 s
    const double accelerationLength = 0.5 * kMass * kLimit * kLimit / kForce; // 353 m
    ASSERT_LT(d1, accelerationLength);
    ASSERT_GT(d1 + d2, accelerationLength);
    const double time = accelerationTime + (length - accelerationLength) / kLimit;
    const double energy = length * kForce + 0.5 * time * kStandby;

    const MessageData& last = *track.points.back()->message;
    EXPECT_NEAR(last.time, time, 1e-3);
    EXPECT_NEAR(last.energy, energy, 0.1);
    EXPECT_EQ(track.energy, static_cast<std::int32_t>(last.energy));
    EXPECT_EQ(track.distance, d1 + d2 + d3);

    // The cost of a section: its length (the cost factor) plus the physics,
    // (energy + time x drive power) / energy per metre at vmax, which are
    // here -250 W and 232 J: length - 125 / 232 x time, and 0.5 to round.
    const double speedAtA = std::sqrt(2 * kForce * d1 / kMass);
    const double t1 = speedAtA * kMass / kForce;
    const double t2 = accelerationTime - t1 + (d1 + d2 - accelerationLength) / kLimit;
    const double t3 = d3 / kLimit;
    const auto sectionCost = [](double dist, double t) {
        return static_cast<std::int32_t>(2 * dist - 125 / kForce * t + 0.5);
    };
    EXPECT_EQ(found.cost, sectionCost(d1, t1) + sectionCost(d2, t2) + sectionCost(d3, t3));
    EXPECT_EQ(track.cost, found.cost);

    // The messages carry the speeds.
    const MessageData& atA = *track.points[1]->message;
    EXPECT_EQ(atA.wayMaxSpeed, 36);
    EXPECT_EQ(atA.wayMinSpeed, 0);
    EXPECT_NEAR(atA.time, t1, 1e-3);
}

// A trunk road joins from the right at A: the vehicle slows to 12 km/h
// there and accelerates again.
TEST(KinematicRoute, SlowsWhereABiggerRoadJoins) {
    StraightRoad road;
    NodeRef side = road.net.node(8.000, 49.997);
    road.net.way("highway=trunk", {road.a, side});
    SearchFixture f;
    const Trip trip = drive(road, f);
    ASSERT_TRUE(trip.track);
    const OsmTrack& track = *trip.track;
    ASSERT_EQ(f.nodesOf(track), (std::vector<int>{-1, road.a.index, road.b.index, -1}));
    EXPECT_EQ(track.points[2]->message->junctionSpeed, 12);

    const std::int32_t d1 = trip.d1, d2 = trip.d2, d3 = trip.d3;
    const double junction = 12 / 3.6;
    ASSERT_GT(std::sqrt(2 * kForce * d1 / kMass), junction); // faster than that when arriving
    const double t1 = std::sqrt(2 * kForce * d1 / kMass) * kMass / kForce;
    const double again = (kLimit - junction) * kMass / kForce;
    const double againLength = 0.5 * kMass * (kLimit * kLimit - junction * junction) / kForce;
    const double time = t1 + again + (d2 + d3 - againLength) / kLimit;
    EXPECT_NEAR(track.points.back()->message->time, time, 1e-3);
}

// Two ways from S to X, then on by Y to the end: a slow street (10 km/h,
// cost factor 1) round by U, and a straight road for 130 km/h whose cost
// factor is the test's. The road arrives at X dearer but at full speed, the
// street cheaper but slow, so that the street's path reaches the link X - Y
// first and is its holder; the road's path follows before that holder is
// expanded. After Y the street's path has to accelerate.
//
//   P ---- S ================ X -- Y -------------- Z ---- E
//           \                /
//            \------ U ------/
enum class Ways { street, road, both };
struct Costs {
    std::int32_t atX, atY, atEnd;
};

// The costs from P - S to X, to Y and to Z - E over the chosen ways; with
// both ways only the end is searched.
Costs costs(Ways ways, const std::string& roadCostFactor) {
    TestNetwork net;
    const NodeRef p = net.node(7.996, 50.000);
    const NodeRef s = net.node(8.000, 50.000);
    const NodeRef u = net.node(8.0015, 50.0003);
    const NodeRef x = net.node(8.003, 50.000);
    const NodeRef y = net.node(8.0042, 50.000);
    const NodeRef z = net.node(8.020, 50.000);
    const NodeRef e = net.node(8.024, 50.000);
    net.way("highway=tertiary", {p, s});
    if (ways != Ways::road) net.way("highway=residential", {s, u, x});
    if (ways != Ways::street) net.way("highway=primary", {s, x});
    net.way("highway=tertiary", {x, y, z, e});
    SearchFixture f;
    const std::string profile =
        "---model:ferrow.router.KinematicModel\n"
        "---context:global\nassign validForCars true\nassign vmax 130\n"
        "---context:way\nassign costfactor switch highway=primary " +
        roadCostFactor +
        " 1\nassign maxspeed switch highway=residential 10 130\n"
        "assign priorityclassifier 26\n"
        "---context:node\nassign initialcost 0\nassign maxspeed 999\n";
    f.load(net, profile);
    const auto from = f.on(p, s);
    const std::int32_t atEnd = f.search(from, f.on(z, e))->cost;
    if (ways == Ways::both) return {0, 0, atEnd};
    return {f.search(from, f.on(x, y, 0.0))->cost, f.search(from, f.on(y, z, 0.0))->cost, atEnd};
}

// A path up to 100 dearer than the holder of its link is kept; with its
// speed it wins in the end.
TEST(KinematicDominance, ADearerPathWithinAHundredIsKept) {
    const Costs street = costs(Ways::street, "5.8");
    const Costs road = costs(Ways::road, "5.8");
    // The order of the search: the street's path at X, the road's at X, the
    // street's at Y (the holder of X - Y, expanded after the road's joined).
    ASSERT_LT(street.atX, road.atX);
    ASSERT_LT(road.atX, street.atY);
    ASSERT_GT(road.atY, street.atY);
    ASSERT_LE(road.atY, street.atY + 100);
    ASSERT_LT(road.atEnd, street.atEnd);
    EXPECT_EQ(costs(Ways::both, "5.8").atEnd, road.atEnd);
}

// More than 100 dearer at Y, the road's path is dropped, though it would
// have been the cheaper in the end.
TEST(KinematicDominance, ADearerPathBeyondAHundredIsDropped) {
    const Costs street = costs(Ways::street, "6");
    const Costs road = costs(Ways::road, "6");
    ASSERT_LT(street.atX, road.atX);
    ASSERT_LT(road.atX, street.atY);
    ASSERT_GT(road.atY, street.atY + 100);
    ASSERT_LT(road.atEnd, street.atEnd);
    EXPECT_EQ(costs(Ways::both, "6").atEnd, street.atEnd);
}

} // namespace
} // namespace ferrow::router::testing
