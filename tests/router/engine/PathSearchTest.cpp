#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "router/engine/RoutingIslandException.h"
#include "router/engine/SearchCutShortException.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

// Small networks at 8 E, 50 N. A grid unit is about 0.0716 m east-west and
// 0.111 m north-south there, so 0.005 degrees of longitude are about 358 m
// and 0.003 degrees of latitude about 334 m; the tests take the metres of
// each link from the graph's distance and work out the costs from them.
//
// The test profile prices a section as cost factor x metres (no turn
// costs): primary 1, residential 2, track 3, footway forbidden.

// A town of side x side crossings, 1000 grid units apart east-west and 700
// north-south from (lon0, lat0): a way along each row, tagged rowTags(row),
// and one along each column, tagged columnTags(column).
struct GridTown {
    int side;
    std::vector<NodeRef> nodes;
    NodeRef at(int row, int column) const { return nodes[static_cast<std::size_t>(row * side + column)]; }
};

GridTown gridTown(TestNetwork& net, int side, std::int32_t lon0, std::int32_t lat0,
                  const std::function<const char*(int)>& rowTags, const std::function<const char*(int)>& columnTags) {
    GridTown town{side, {}};
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            town.nodes.push_back(net.gridNode(lon0 + column * 1000, lat0 + row * 700));
        }
    }
    for (int row = 0; row < side; ++row) {
        std::vector<testsupport::WayPoint> street;
        for (int column = 0; column < side; ++column) street.push_back(town.at(row, column));
        net.way(rowTags(row), std::move(street));
    }
    for (int column = 0; column < side; ++column) {
        std::vector<testsupport::WayPoint> road;
        for (int row = 0; row < side; ++row) road.push_back(town.at(row, column));
        net.way(columnTags(column), std::move(road));
    }
    return town;
}

// Two ways from A to B: a residential street straight across and a primary
// road round three sides of a rectangle.
class TwoRoads : public ::testing::Test {
protected:
    RectangleTown town{"highway=residential", "highway=primary"};
    const TestNetwork& net = town.net;
    const NodeRef &p = town.p, &a = town.a, &b = town.b, &q = town.q, &c = town.c, &d = town.d;
};

TEST_F(TwoRoads, TakesTheCheaperRoad) {
    SearchFixture f;
    f.load(net, testProfile());
    auto track = f.search(f.on(p, a), f.on(b, q));
    ASSERT_TRUE(track);
    // Without the detail of re-tracking the track runs from node to node:
    // from the start segment's far node to the end segment's far node.
    EXPECT_EQ(f.nodesOf(*track), town.roundabout());

    // Costs run from the start's cross point to the end's.
    const std::int32_t startToA = metres(f.at(p).ilon + 2500, f.at(p).ilat, f.at(a).ilon, f.at(a).ilat);
    const std::int32_t bToEnd = metres(f.at(b).ilon, f.at(b).ilat, f.at(b).ilon + 2500, f.at(b).ilat);
    const std::int32_t around = f.metresBetween(a, c) + f.metresBetween(c, d) + f.metresBetween(d, b);
    ASSERT_GT(2 * f.metresBetween(a, b), around); // the detour is cheaper than the street
    EXPECT_EQ(track->cost, 2 * startToA + around + 2 * bToEnd);
    EXPECT_EQ(track->distance, f.metresBetween(p, a) + around + f.metresBetween(b, q));
    EXPECT_EQ(track->energy, 0);
}

TEST_F(TwoRoads, PrefersTheStreetWhenTheDetourCostsMore) {
    SearchFixture f;
    // Primary at cost factor 3 makes the rectangle dearer than the street.
    std::string profile = testProfile();
    profile.replace(profile.find("highway=primary 1"), 17, "highway=primary 3");
    f.load(net, profile);
    auto track = f.search(f.on(p, a), f.on(b, q));
    ASSERT_TRUE(track);
    EXPECT_EQ(f.nodesOf(*track), town.byStreet());
}

// The rows of the message table come from the detailed search along the
// found track: one per section, with the cumulative time and energy of the
// standard model's estimate (45 km/h by default for a car: 12.5 m/s;
// 90 kg x 9.81 x 0.01 rolling plus 0.225 x 12.5^2 air: 43.98525 J per metre).
TEST_F(TwoRoads, RetrackingRecordsEverySection) {
    SearchFixture f;
    f.load(net, testProfile());
    const auto from = f.on(p, a);
    const auto to = f.on(b, q);
    auto found = f.search(from, to);
    ASSERT_TRUE(found);
    auto track = f.retrack(from, to, found);
    ASSERT_TRUE(track);
    ASSERT_EQ(track->points.size(), 6u);
    const OsmPathElement& startPoint = *track->points[0];
    const OsmPathElement& endPoint = *track->points[5];
    // The detailed track starts and ends at the cross points.
    EXPECT_EQ(startPoint.ilat, f.at(p).ilat);
    EXPECT_NEAR(startPoint.ilon, f.at(p).ilon + 2500, 1);
    EXPECT_NEAR(endPoint.ilon, f.at(b).ilon + 2500, 1);

    const std::int32_t d1 = metres(startPoint.ilon, startPoint.ilat, f.at(a).ilon, f.at(a).ilat);
    const std::int32_t d2 = f.metresBetween(a, c);
    const std::int32_t d3 = f.metresBetween(c, d);
    const std::int32_t d4 = f.metresBetween(d, b);
    const std::int32_t d5 = metres(f.at(b).ilon, f.at(b).ilat, endPoint.ilon, endPoint.ilat);

    std::vector<std::string> rows;
    for (const auto& point : track->points) {
        ASSERT_TRUE(point->message); // re-tracking gives every point a record
        if (auto row = point->message->toMessage()) rows.push_back(*row);
    }
    float time = 0.0f;
    float energy = 0.0f;
    const auto row = [&](NodeRef at, std::int32_t dist, int costPerKm, const char* tags) {
        time = static_cast<float>(time + dist / 12.5);
        energy = static_cast<float>(
            energy + dist * (90 * 9.81 * static_cast<double>(0.01f) + static_cast<double>(0.225f) * 12.5 * 12.5));
        return std::to_string(f.at(at).ilon - 180000000) + "\t" + std::to_string(f.at(at).ilat - 90000000) +
               "\t-8192\t" + std::to_string(dist) + "\t" + std::to_string(costPerKm) + "\t0\t0\t0\t0\t" + tags +
               "\t\t" + std::to_string(static_cast<int>(time)) + "\t" + std::to_string(static_cast<int>(energy));
    };
    std::vector<std::string> expected;
    expected.push_back(row(a, d1, 2000, "highway=residential"));
    expected.push_back(row(c, d2, 1000, "highway=primary"));
    expected.push_back(row(d, d3, 1000, "highway=primary"));
    expected.push_back(row(b, d4, 1000, "highway=primary"));
    // The last section stops at the cross point, but its record names the
    // link's end, where the section would have ended.
    expected.push_back(row(q, d5, 2000, "highway=residential"));
    EXPECT_EQ(rows, expected);

    EXPECT_EQ(track->cost, 2 * d1 + d2 + d3 + d4 + 2 * d5);
    EXPECT_EQ(track->distance, d1 + d2 + d3 + d4 + d5);
    EXPECT_EQ(track->energy, static_cast<int>(energy));
    EXPECT_EQ(track->points[4]->cost, 2 * d1 + d2 + d3 + d4);
}

// A oneway street from B to A: going east the route takes the detour.
TEST(PathSearch, OnewayForcesADetour) {
    const RectangleTown town("highway=primary oneway=yes", "highway=residential", true);
    SearchFixture f;
    f.load(town.net, testProfile());
    auto east = f.search(f.on(town.p, town.a), f.on(town.b, town.q));
    ASSERT_TRUE(east);
    EXPECT_EQ(f.nodesOf(*east), town.roundabout());
    auto west = f.search(f.on(town.q, town.b), f.on(town.a, town.p));
    ASSERT_TRUE(west);
    EXPECT_EQ(f.nodesOf(*west), (std::vector<int>{town.q.index, town.b.index, town.a.index, town.p.index}));
}

// At X the turn from W to N is forbidden: the route goes round by E.
//
//        N ---- M
//        |      |
//   V -- W -- X -- E
//   (the turn W -> X -> N is forbidden)
TEST(PathSearch, HonoursATurnRestriction) {
    TestNetwork net;
    NodeRef v = net.node(7.995, 50.000);
    NodeRef w = net.node(8.000, 50.000);
    NodeRef x = net.node(8.005, 50.000);
    NodeRef e = net.node(8.010, 50.000);
    NodeRef n = net.node(8.005, 50.003);
    NodeRef m = net.node(8.010, 50.003);
    NodeRef t = net.node(8.005, 50.006);
    net.way("highway=primary", {v, w, x, e});
    net.way("highway=primary", {x, n, t});
    net.way("highway=residential", {e, m, n});

    SearchFixture f;
    f.load(net, testProfile());
    auto free = f.search(f.on(v, w), f.on(n, t));
    ASSERT_TRUE(free);
    EXPECT_EQ(f.nodesOf(*free), (std::vector<int>{v.index, w.index, x.index, n.index, t.index}));

    TestNetwork restricted = net;
    restricted.noTurn(w, x, n);
    SearchFixture g;
    g.load(restricted, testProfile());
    auto around = g.search(g.on(v, w), g.on(n, t));
    ASSERT_TRUE(around);
    EXPECT_EQ(g.nodesOf(*around), (std::vector<int>{v.index, w.index, x.index, e.index, m.index, n.index, t.index}));

    // A profile that ignores turn restrictions turns at X.
    SearchFixture h;
    h.load(restricted, testProfile("assign considerTurnRestrictions false"));
    auto ignored = h.search(h.on(v, w), h.on(n, t));
    ASSERT_TRUE(ignored);
    EXPECT_EQ(h.nodesOf(*ignored), (std::vector<int>{v.index, w.index, x.index, n.index, t.index}));
}

// Start and end on one segment, the end ahead of the start: the start path
// itself catches the end and the first path taken ends the search.
TEST(PathSearch, StartAndEndOnOneSegment) {
    TestNetwork net;
    NodeRef p = net.node(7.995, 50.000);
    NodeRef a = net.node(8.000, 50.000);
    NodeRef b = net.node(8.010, 50.000);
    NodeRef q = net.node(8.015, 50.000);
    net.way("highway=residential", {p, a, b, q});

    SearchFixture f;
    f.load(net, testProfile());
    auto track = f.search(f.on(a, b, 0.6), f.on(a, b, 0.9));
    ASSERT_TRUE(track);
    EXPECT_EQ(f.engine->lastVisitedCount(), 1);
    EXPECT_EQ(f.nodesOf(*track), (std::vector<int>{a.index, b.index}));
    const std::int32_t between = metres(f.at(a).ilon + 6000, f.at(a).ilat, f.at(a).ilon + 9000, f.at(a).ilat);
    EXPECT_NEAR(track->cost, 2 * between, 1);

    // Backwards along the segment: the search leaves by A and comes back.
    auto back = f.search(f.on(a, b, 0.9), f.on(a, b, 0.6));
    ASSERT_TRUE(back);
    EXPECT_EQ(f.nodesOf(*back), (std::vector<int>{b.index, a.index}));
    EXPECT_NEAR(back->cost, 2 * between, 1);
}

// A destination-only street (access=destination) between A and B is a
// shortcut that a route may enter to reach a target on it, but not cross.
//
//   C ============= D       ==== primary, far round
//   |               |       ++++ residential, destination only
//   P --- A +++ M +++ B --- Q
class DestinationArea : public ::testing::Test {
protected:
    void SetUp() override {
        p = net.node(7.995, 50.000);
        a = net.node(8.000, 50.000);
        m = net.node(8.005, 50.000);
        b = net.node(8.010, 50.000);
        q = net.node(8.015, 50.000);
        c = net.node(8.000, 50.006);
        d = net.node(8.010, 50.006);
        net.way("highway=residential", {p, a});
        net.way("highway=residential access=destination", {a, m, b});
        net.way("highway=residential", {b, q});
        net.way("highway=primary", {a, c, d, b});
    }

    TestNetwork net;
    NodeRef p, a, m, b, q, c, d;
};

TEST_F(DestinationArea, IsNotCrossed) {
    SearchFixture f;
    f.load(net, testProfile());
    ASSERT_LT(2 * f.metresBetween(a, b), f.metresBetween(a, c) + f.metresBetween(c, d) + f.metresBetween(d, b));
    auto track = f.search(f.on(p, a), f.on(b, q));
    ASSERT_TRUE(track);
    EXPECT_EQ(f.nodesOf(*track), (std::vector<int>{p.index, a.index, c.index, d.index, b.index, q.index}));
}

TEST_F(DestinationArea, IsEnteredToReachATargetInside) {
    SearchFixture f;
    f.load(net, testProfile());
    auto in = f.search(f.on(p, a), f.on(m, b));
    ASSERT_TRUE(in);
    EXPECT_EQ(f.nodesOf(*in), (std::vector<int>{p.index, a.index, m.index, b.index}));
    // A route that starts inside may leave it.
    auto out = f.search(f.on(a, m), f.on(b, q));
    ASSERT_TRUE(out);
    EXPECT_EQ(f.nodesOf(*out), (std::vector<int>{a.index, m.index, b.index, q.index}));
}

// Two roads that do not meet: the search dies out after a few nodes, which
// marks an island, until the island pairs have been frozen five times.
TEST(PathSearch, UnreachableTarget) {
    TestNetwork net;
    NodeRef a = net.node(8.000, 50.000);
    NodeRef b = net.node(8.005, 50.000);
    NodeRef c = net.node(8.010, 50.000);
    NodeRef x = net.node(8.000, 50.003);
    NodeRef y = net.node(8.005, 50.003);
    net.way("highway=residential", {a, b, c});
    net.way("highway=residential", {x, y});

    SearchFixture f;
    f.load(net, testProfile());
    EXPECT_THROW(f.search(f.on(a, b), f.on(x, y)), RoutingIslandException);
    // The search staged the pairs of the links it took.
    EXPECT_GT(EngineProbe::islandNodePairs(*f.engine).stagedCount(), 0);
    for (int i = 0; i < 5; ++i) EngineProbe::islandNodePairs(*f.engine).freezeTempPairs();
    EXPECT_EQ(f.search(f.on(a, b), f.on(x, y)), nullptr);
    // The no-go list is restored after the failure as after the search.
    EXPECT_TRUE(f.rc.nogoPoints.empty());
}

TEST(PathSearch, NodeLimitEndsTheSearch) {
    TestNetwork net;
    std::vector<NodeRef> line;
    for (int i = 0; i < 12; ++i) line.push_back(net.node(8.000 + 0.001 * i, 50.000));
    net.way("highway=residential", std::vector<testsupport::WayPoint>(line.begin(), line.end()));

    SearchFixture f;
    f.load(net, testProfile());
    f.settings.nodeLimit = 3;
    EXPECT_EQ(f.search(f.on(line[0], line[1]), f.on(line[10], line[11])), nullptr);
    EXPECT_TRUE(f.engine->lastSearchReachedNodeLimit());
    EXPECT_EQ(f.engine->lastVisitedCount(), 2);
    f.settings.nodeLimit = 0;
    auto track = f.search(f.on(line[0], line[1]), f.on(line[10], line[11]));
    ASSERT_TRUE(track);
    EXPECT_EQ(track->points.size(), 12u);
}

// A gate costs 50, a bollard forbids passing: the route avoids the bollard.
//
//   C ------- D
//   |         |
//   P --- A ---G--- B --- Q     (G: gate or bollard)
TEST(PathSearch, NodeCostsAndAForbiddenBarrier) {
    const std::string nodeCosts = "assign initialcost switch barrier=gate 50 switch barrier=bollard 1000000 0";
    const auto network = [](const char* barrier, NodeRef& p, NodeRef& a, NodeRef& g, NodeRef& b, NodeRef& q) {
        TestNetwork net;
        p = net.node(7.995, 50.000);
        a = net.node(8.000, 50.000);
        g = net.node(8.005, 50.000).tags(barrier);
        b = net.node(8.010, 50.000);
        q = net.node(8.015, 50.000);
        NodeRef c = net.node(8.000, 50.003);
        NodeRef d = net.node(8.010, 50.003);
        net.way("highway=residential", {p, a, g, b, q});
        net.way("highway=residential", {a, c, d, b});
        return net;
    };
    NodeRef p, a, g, b, q;
    const TestNetwork withGate = network("barrier=gate", p, a, g, b, q);
    SearchFixture f;
    f.load(withGate, testProfile("", "", nodeCosts));
    auto gate = f.search(f.on(p, a), f.on(b, q));
    ASSERT_TRUE(gate);
    EXPECT_EQ(f.nodesOf(*gate), (std::vector<int>{p.index, a.index, g.index, b.index, q.index}));
    const std::int32_t half = metres(f.at(p).ilon + 2500, f.at(p).ilat, f.at(a).ilon, f.at(a).ilat);
    const std::int32_t halfEnd = metres(f.at(b).ilon, f.at(b).ilat, f.at(b).ilon + 2500, f.at(b).ilat);
    EXPECT_EQ(gate->cost, 2 * (half + f.metresBetween(a, g) + f.metresBetween(g, b) + halfEnd) + 50);

    const TestNetwork withBollard = network("barrier=bollard", p, a, g, b, q);
    SearchFixture h;
    h.load(withBollard, testProfile("", "", nodeCosts));
    auto bollard = h.search(h.on(p, a), h.on(b, q));
    ASSERT_TRUE(bollard);
    EXPECT_EQ(h.nodesOf(*bollard), (std::vector<int>{p.index, a.index, 5, 6, b.index, q.index}));
}

// A climb of 4 m, 3 m and 5 m on three links, then level: the uphill buffer
// (penalty buffer 5 m, maximum 10 m, no reduction) holds 4 m (no cost, plain
// cost factor), then 7 m (uphill cost factor 3 in full, still no cost), then
// 12 m, cut back to 10 m: the 2 m cut off cost 2 x 100 ("uphillcost" 100 per
// metre); on the level the full buffer keeps the uphill cost factor.
TEST(PathSearch, ElevationBuffersOnAHill) {
    TestNetwork net;
    NodeRef p = net.node(8.000, 49.997).elevation(100);
    NodeRef a = net.node(8.000, 50.000).elevation(100);
    NodeRef b = net.node(8.000, 50.001).elevation(104);
    NodeRef c = net.node(8.000, 50.002).elevation(107);
    NodeRef d = net.node(8.000, 50.003).elevation(112);
    NodeRef q = net.node(8.000, 50.006).elevation(112);
    net.way("highway=primary", {p, a, b, c, d, q});

    SearchFixture f;
    f.load(net, testProfile("", "assign uphillcost 100\nassign uphillcostfactor 3\n"));
    auto track = f.search(f.on(p, a), f.on(d, q));
    ASSERT_TRUE(track);
    const std::int32_t startToA = metres(f.at(p).ilon, f.at(p).ilat + 1500, f.at(a).ilon, f.at(a).ilat);
    const std::int32_t dToEnd = metres(f.at(d).ilon, f.at(d).ilat, f.at(d).ilon, f.at(d).ilat + 1500);
    const std::int32_t expected =
        startToA + f.metresBetween(a, b) + 3 * f.metresBetween(b, c) + 200 + 3 * f.metresBetween(c, d) + 3 * dToEnd;
    EXPECT_EQ(track->cost, expected);

    // The detailed records show the elevation cost and the cost factors.
    auto detailed = f.retrack(f.on(p, a), f.on(d, q), track);
    ASSERT_TRUE(detailed);
    std::vector<std::pair<std::int32_t, std::int32_t>> costs;
    for (const auto& point : detailed->points) {
        if (point->message && point->message->wayTags) {
            costs.emplace_back(point->message->elevationCost, static_cast<int>(point->message->costFactor * 1000));
        }
    }
    EXPECT_EQ(costs, (std::vector<std::pair<std::int32_t, std::int32_t>>{
                         {0, 1000}, {0, 1000}, {0, 3000}, {200, 3000}, {0, 3000}}));
    EXPECT_EQ(detailed->cost, expected);
}

// The way down with "downhillcost" 0 and no maximum-slope cost: no cost at
// all, while the cost factor blend follows the buffer.
TEST(PathSearch, DescentWithoutDownhillCost) {
    TestNetwork net;
    NodeRef p = net.node(8.000, 49.997).elevation(112);
    NodeRef a = net.node(8.000, 50.000).elevation(112);
    NodeRef b = net.node(8.000, 50.001).elevation(100);
    NodeRef q = net.node(8.000, 50.004).elevation(100);
    net.way("highway=primary", {p, a, b, q});

    SearchFixture f;
    f.load(net, testProfile("", "assign downhillcostfactor 2\n"));
    auto track = f.search(f.on(p, a), f.on(b, q));
    ASSERT_TRUE(track);
    const std::int32_t startToA = metres(f.at(p).ilon, f.at(p).ilat + 1500, f.at(a).ilon, f.at(a).ilat);
    const std::int32_t bToEnd = metres(f.at(b).ilon, f.at(b).ilat, f.at(b).ilon, f.at(b).ilat + 1500);
    // 12 m down: the buffer exceeds the maximum, is cut to 10 m, unpriced;
    // the downhill factor 2 applies on A-B and on the level after it.
    EXPECT_EQ(track->cost, startToA + 2 * f.metresBetween(a, b) + 2 * bToEnd);
}

// The path search on its own: what it returns, and how the run around it
// stops it. A line A - B - C, from the middle of A - B to the middle of B - C.
class DirectSearch : public ::testing::Test {
protected:
    DirectSearch() {
        a = net.node(8.000, 50.000);
        b = net.node(8.005, 50.000);
        c = net.node(8.010, 50.000);
        net.way("highway=residential", {a, b, c});
        f.load(net, testProfile());
    }

    TestNetwork net;
    NodeRef a, b, c;
    SearchFixture f;
    const std::string name = "pass1";
};

TEST_F(DirectSearch, ReturnsThePathOverTheEndSegment) {
    SearchFixture::Direct direct(f);
    const auto from = f.on(a, b);
    const auto to = f.on(b, c);
    OsmPath* path = direct.find({.operationName = name, .startWp = from, .endWp = &to});
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->sourceNode->ilon, f.at(b).ilon);
    EXPECT_EQ(path->targetNode->ilon, f.at(c).ilon);
    // Residential streets cost 2 a metre: half of each segment.
    const std::int32_t half =
        metres(f.at(a).ilon + (f.at(b).ilon - f.at(a).ilon) / 2, f.at(a).ilat, f.at(b).ilon, f.at(b).ilat);
    const std::int32_t otherHalf =
        metres(f.at(b).ilon, f.at(b).ilat, f.at(b).ilon + (f.at(c).ilon - f.at(b).ilon) / 2, f.at(c).ilat);
    EXPECT_EQ(path->cost, 2 * (half + otherHalf));
    // Both start paths (towards A and towards B, of equal cost), then the path on over B.
    EXPECT_EQ(direct.search.visitedCount(), 3);
    EXPECT_FALSE(direct.search.madeMatchPath());
}

TEST_F(DirectSearch, TheNodeLimitEndsTheSearchWithoutPath) {
    SearchFixture::Direct direct(f);
    const auto from = f.on(a, b);
    const auto to = f.on(b, c);
    EXPECT_EQ(direct.find({.operationName = name, .startWp = from, .endWp = &to, .settings = {.nodeLimit = 1}}),
              nullptr);
    EXPECT_TRUE(direct.search.reachedNodeLimit());
}

// The stop flag ends a search at its first step.
TEST_F(DirectSearch, StopFlag) {
    SearchFixture::Direct direct(f);
    direct.startTime = jcompat::currentTimeMillis() - 2500;
    direct.stop = true;
    const auto from = f.on(a, b);
    const auto to = f.on(b, c);
    EXPECT_THAT([&] { direct.find({.operationName = name, .startWp = from, .endWp = &to}); },
                ::testing::ThrowsMessage<SearchCutShortException>(
                    ::testing::StrEq("operation killed by thread-priority-watchdog after 2 seconds")));
}

TEST_F(DirectSearch, Timeout) {
    SearchFixture::Direct direct(f);
    direct.startTime = jcompat::currentTimeMillis() - 61000;
    const auto from = f.on(a, b);
    const auto to = f.on(b, c);
    EXPECT_THAT([&] { direct.find({.operationName = name, .startWp = from, .endWp = &to, .maxRunningTime = 60000}); },
                ::testing::ThrowsMessage<SearchCutShortException>(::testing::StrEq("pass1 timeout after 60 seconds")));
}

} // namespace
} // namespace ferrow::router::testing

namespace ferrow::router::testing {
namespace {

// A town of 212 x 212 crossings (residential streets east-west, cost factor
// 2; primary roads north-south, 1): big enough that the memory estimate (95
// bytes per counted node, 200 per queued path) outgrows the first allowance
// of 4000000 bytes, so the search recounts the graph on its way. The route
// is the cheapest all the same.
TEST(PathSearchMemory, RecountingKeepsTheCheapestRoute) {
    constexpr int side = 212;
    const std::int32_t lon0 = testsupport::gridLon(8.0);
    const std::int32_t lat0 = testsupport::gridLat(50.0);
    const auto lonOf = [&](int column) { return lon0 + column * 1000; };
    const auto latOf = [&](int row) { return lat0 + row * 700; };
    TestNetwork net;
    const GridTown town = gridTown(
        net, side, lon0, lat0, [](int) { return "highway=residential"; }, [](int) { return "highway=primary"; });
    const std::vector<NodeRef>& nodes = town.nodes;
    const auto at = [&](int row, int column) { return town.at(row, column); };

    // The cheapest cost by a plain Dijkstra over the crossings.
    const std::int32_t startLon = lonOf(0) + 500;
    const std::vector<std::int64_t> cost = cheapestCosts(
        nodes.size(),
        {{0, 2 * metres(startLon, latOf(0), lonOf(0), latOf(0))},
         {1, 2 * metres(startLon, latOf(0), lonOf(1), latOf(0))}},
        [&](int node, auto reach) {
            const int row = node / side;
            const int column = node % side;
            for (const auto& [dr, dc] : {std::pair{0, 1}, std::pair{0, -1}, std::pair{1, 0}, std::pair{-1, 0}}) {
                const int r = row + dr;
                const int k = column + dc;
                if (r < 0 || r >= side || k < 0 || k >= side) continue;
                const std::int32_t d = metres(lonOf(column), latOf(row), lonOf(k), latOf(r));
                reach(r * side + k, dr == 0 ? 2 * d : d);
            }
        });
    const std::int32_t endLon = lonOf(side - 2) + 500;
    const std::int32_t top = latOf(side - 1);
    const std::int64_t expected =
        std::min(cost[static_cast<std::size_t>(side * side - 2)] + 2 * metres(lonOf(side - 2), top, endLon, top),
                 cost[static_cast<std::size_t>(side * side - 1)] + 2 * metres(lonOf(side - 1), top, endLon, top));

    SearchFixture f;
    f.load(net, testProfile());
    auto track = f.search(f.on(at(0, 0), at(0, 1)), f.on(at(side - 1, side - 2), at(side - 1, side - 1)));
    ASSERT_TRUE(track);
    EXPECT_GE(f.engine->lastCollectionCount(), 1);
    EXPECT_EQ(track->cost, expected);

    // Again with the found track to cut costs: the bound drops to the
    // track's cost at once, and the recount drops the crossings farther from
    // the end than the bound leaves room for.
    auto again = f.search(f.on(at(0, 0), at(0, 1)), f.on(at(side - 1, side - 2), at(side - 1, side - 1)), track.get());
    ASSERT_TRUE(again);
    EXPECT_GE(f.engine->lastCollectionCount(), 1);
    EXPECT_EQ(again->cost, expected);
}

} // namespace
} // namespace ferrow::router::testing

namespace ferrow::router::testing {
namespace {

// A hub H with 14000 spokes S, each going on to a far node F in the next
// tile: once the spokes are queued, the estimate (200 bytes per queued path,
// 95 per counted node) needs more than the first allowance of 4000000 bytes,
// and the recount still leaves it above 5000000. A budget of 128 MB lets
// the allowance grow so far; with 1 MB (two thirds of it allowed) the search
// parks its paths at the border, takes them up again when nothing else is
// left, and then gives up.
//
//   P --- H ===(14000 spokes)=== S_i --- F_i      G --- F_last
TEST(PathSearchMemory, SmallBudgetReachesTheMemoryLimit) {
    constexpr int spokes = 14000;
    const std::int32_t lon0 = testsupport::gridLon(8.0) + 100;
    const std::int32_t lat0 = testsupport::gridLat(50.0) + 100;
    TestNetwork net;
    NodeRef p = net.gridNode(lon0, lat0);
    NodeRef h = net.gridNode(lon0 + 1000, lat0);
    net.way("highway=primary", {p, h});
    NodeRef last{};
    for (int i = 0; i < spokes; ++i) {
        const std::int32_t dlon = (i % 128) * 90;
        const std::int32_t dlat = (i / 128) * 90;
        NodeRef s = net.gridNode(lon0 + 12500 + dlon, lat0 + dlat);
        last = net.gridNode(lon0 + 25000 + dlon, lat0 + dlat);
        net.way("highway=primary", {h, s, last});
    }
    NodeRef g = net.gridNode(lon0 + 25000 + 127 * 90 + 60, lat0 + (spokes - 1) / 128 * 90);
    net.way("highway=primary", {last, g});

    SearchFixture f;
    f.load(net, testProfile());
    const auto searchWith = [&](std::int32_t memoryClass) {
        f.rc.memoryClass = memoryClass;
        return f.search(f.on(p, h), f.on(last, g));
    };
    EXPECT_TRUE(searchWith(128));
    EXPECT_THAT([&] { searchWith(1); },
                ::testing::ThrowsMessage<SearchCutShortException>(::testing::StrEq("memory limit reached")));
}

// A primary road from the end segment E1 - E2 east to the start segment
// A - B, a node every 1000 grid units (about 72 m); a few metres from B 28
// hubs H_j, and from them 14000 spokes S_i east into the next tile, where
// they end but for the shortest, which goes on to F in the tile after:
//
//   E1 - E2 - ... - A - B - H_j ===(14000 spokes)=== S_i     S_0 --- F
//
// Searched again with the first track to cut costs, the search queues the
// spokes, then takes the road from A, on the track, which bounds the cost.
// Taking the spoke path to S_0, next to a tile not decoded yet, the queued
// spokes outgrow the memory allowance, and the recount drops every node
// farther from the end than the bound leaves room for: B, the hubs and the
// S_i, and with them the links of the other spoke paths. The one being taken
// keeps its own two nodes and goes on towards F, beyond the bound, and the
// search goes on along the road.
TEST(PathSearchMemory, ARecountFarFromTheEndLeavesTheRouteWhole) {
    constexpr int spokes = 14000;
    const std::int32_t lon0 = testsupport::gridLon(8.0); // a tile's west edge
    const std::int32_t lat0 = testsupport::gridLat(50.0) + 100;
    TestNetwork net;
    std::vector<testsupport::WayPoint> road;
    std::vector<NodeRef> nodes;
    for (int k = 0; k <= 10; ++k) {
        nodes.push_back(net.gridNode(lon0 + 500 + k * 1000, lat0));
        road.push_back(nodes.back());
    }
    net.way("highway=primary", road);
    const NodeRef e1 = nodes[0], e2 = nodes[1], a = nodes[9], b = nodes[10];
    // Hubs rather than B itself, so that no node's chain of links gets long.
    constexpr int hubCount = 28;
    std::vector<NodeRef> hubs;
    for (int j = 0; j < hubCount; ++j) {
        hubs.push_back(net.gridNode(lon0 + 10600, lat0 + 20 * j));
        net.way("highway=primary", {b, hubs.back()});
    }
    for (int i = 0; i < spokes; ++i) {
        const std::int32_t dlon = (i % 128) * 90;
        const std::int32_t dlat = (i / 128) * 90;
        std::vector<testsupport::WayPoint> spoke{hubs[static_cast<std::size_t>(i % hubCount)],
                                                 net.gridNode(lon0 + 12600 + dlon, lat0 + dlat)};
        if (i == 0) spoke.push_back(net.gridNode(lon0 + 25100, lat0));
        net.way("highway=primary", std::move(spoke));
    }

    SearchFixture f;
    f.load(net, testProfile());
    const auto from = f.on(a, b);
    const auto to = f.on(e1, e2);
    // From the middle of A - B along the road to the middle of E1 - E2.
    std::int64_t expected =
        metres(f.at(a).ilon + 500, lat0, f.at(a).ilon, lat0) + metres(f.at(e2).ilon, lat0, f.at(e2).ilon - 500, lat0);
    for (std::size_t k = 1; k < 9; ++k) {
        expected += f.metresBetween(nodes[k], nodes[k + 1]);
    }

    auto first = f.search(from, to);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->cost, expected);
    auto again = f.search(from, to, first.get());
    ASSERT_TRUE(again);
    EXPECT_EQ(f.engine->lastCollectionCount(), 1);
    EXPECT_EQ(again->cost, expected);
    EXPECT_EQ(f.nodesOf(*again), (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
}

} // namespace
} // namespace ferrow::router::testing

namespace ferrow::router::testing {
namespace {

// A road H - A - E1 - E2 - N, the end segment E1 - E2 about 430 m long with
// the end point in its middle, N in the next tile; 28 hubs beside H, and from
// them 20000 long spokes north, all in one tile:
//
//   S_i ... S_i (20000 dead ends, 700 m and more north)
//      \\\|///
//   H_j (28 hubs) - H --s-- A ---- E1 ======= E2 ---|--- N
//
// From s (near H) the spokes are queued before the search reaches E1, and
// wait behind the final path E1 - E2, which is the first path whose target
// has a neighbour not decoded yet. Searched again with the first track to cut
// costs, the bound is the route's cost when the final path is taken, the
// queued spokes outgrow the memory allowance, and the recount drops every
// node more than 100 m from the end point: both end nodes among them. The
// final path keeps its own two nodes and ends the search as before.
TEST(PathSearchMemory, TheFinalPathOutlivesTheRecount) {
    constexpr int spokes = 20000;
    constexpr int hubCount = 28;
    const std::int32_t lon0 = testsupport::gridLon(8.0); // a tile's west edge
    const std::int32_t lat0 = testsupport::gridLat(50.0) + 100;
    TestNetwork net;
    const NodeRef h = net.gridNode(lon0 + 2000, lat0);
    const NodeRef a = net.gridNode(lon0 + 3000, lat0);
    const NodeRef e1 = net.gridNode(lon0 + 4000, lat0);
    const NodeRef e2 = net.gridNode(lon0 + 10000, lat0);
    const NodeRef n = net.gridNode(lon0 + 12600, lat0);
    net.way("highway=primary", {h, a, e1, e2, n});
    std::vector<NodeRef> hubs;
    for (int j = 0; j < hubCount; ++j) {
        hubs.push_back(net.gridNode(lon0 + 1900, lat0 + 10 + 10 * j));
        net.way("highway=primary", {h, hubs.back(), a});
    }
    for (int i = 0; i < spokes; ++i) {
        net.way("highway=primary", {hubs[static_cast<std::size_t>(i % hubCount)],
                                    net.gridNode(lon0 + 100 + (i % 128) * 50, lat0 + 6300 + (i / 128) * 30),
                                    hubs[static_cast<std::size_t>((i + 1) % hubCount)]});
    }

    SearchFixture f;
    f.load(net, testProfile());
    const auto from = f.on(h, a, 0.1);
    const auto to = f.on(e1, e2);
    const std::int64_t expected = metres(lon0 + 2100, lat0, lon0 + 3000, lat0) + f.metresBetween(a, e1) +
                                  metres(lon0 + 4000, lat0, lon0 + 7000, lat0);

    auto first = f.search(from, to);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->cost, expected);
    auto again = f.search(from, to, first.get());
    ASSERT_TRUE(again);
    EXPECT_EQ(f.engine->lastCollectionCount(), 1);
    EXPECT_EQ(again->cost, expected);
    EXPECT_EQ(f.nodesOf(*again), f.nodesOf(*first));
}

} // namespace
} // namespace ferrow::router::testing

namespace ferrow::router::testing {
namespace {

// A town of 60 x 60 crossings over several tiles, searched from its south-
// west corner to its north-east one: a search that hands back to the graph's
// pools, every 64 nodes it creates, what its graph let go of finds the same
// route over the same points as one that keeps everything, and reuses what
// it handed back (its pools grow less).
TEST(PathSearchMemory, ReclaimingTheReleasedGraphChangesNothingFound) {
    constexpr int side = 60;
    const std::int32_t lon0 = testsupport::gridLon(8.0);
    const std::int32_t lat0 = testsupport::gridLat(50.0);
    TestNetwork net;
    const GridTown town = gridTown(
        net, side, lon0, lat0, [](int row) { return row % 3 == 0 ? "highway=primary" : "highway=residential"; },
        [](int column) { return column % 4 == 0 ? "highway=primary" : "highway=track"; });
    const auto at = [&](int row, int column) { return town.at(row, column); };
    SearchFixture f;
    f.load(net, testProfile());
    const auto from = f.on(at(0, 0), at(0, 1));
    const auto to = f.on(at(side - 1, side - 2), at(side - 1, side - 1));

    struct Found {
        std::int32_t cost;
        std::vector<std::pair<std::int32_t, std::int32_t>> points;
        std::int32_t visited;
        std::size_t reclaimed;
        std::size_t poolBytes;
    };
    const auto search = [&](std::size_t reclaimAfter) {
        SearchFixture::Direct direct(f);
        direct.cache.nodesMap().setFirstReclaimAfter(reclaimAfter);
        const OsmPath* path = direct.find({.operationName = "pass1", .startWp = from, .endWp = &to});
        EXPECT_NE(path, nullptr);
        Found found{path != nullptr ? path->cost : -1,
                    {},
                    direct.search.visitedCount(),
                    direct.cache.nodesMap().reclaimedNodeCount(),
                    direct.cache.nodesMap().poolBytes()};
        for (const OsmPathElement* point = path != nullptr ? path->originElement : nullptr; point != nullptr;
             point = point->origin) {
            found.points.emplace_back(point->ilon, point->ilat);
        }
        return found;
    };
    const Found kept = search(std::size_t{1} << 30);
    const Found reclaimed = search(64);
    EXPECT_EQ(kept.reclaimed, 0U);
    EXPECT_GT(reclaimed.reclaimed, 500U);
    EXPECT_LT(reclaimed.poolBytes, kept.poolBytes);
    EXPECT_EQ(reclaimed.cost, kept.cost);
    EXPECT_EQ(reclaimed.visited, kept.visited);
    EXPECT_EQ(reclaimed.points, kept.points);
    EXPECT_GT(kept.points.size(), std::size_t{2 * side - 4});
}

} // namespace
} // namespace ferrow::router::testing
