// The correction of misplaced via points where two legs meet, on hand-made
// tracks: a spur out to the via point and back is cut from both legs.
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

// Positions around a junction J at 8 E, 50 N; a step is about 50 m
// (698 grid units east, 450 north).
constexpr std::int32_t J_LON = 188000000;
constexpr std::int32_t J_LAT = 140000000;
constexpr std::int32_t EAST = 698;
constexpr std::int32_t NORTH = 450;

struct Pos {
    std::int32_t east;  // steps east of J
    std::int32_t north; // steps north of J
};

constexpr Pos S0{-2, 0}, S1{-1, 0}, J{0, 0}, X1{0, 1}, X2{0, 2}, V{0, 3}, N1{1, 0}, N2{2, 0};

std::shared_ptr<OsmPathElement> pointAt(Pos pos, std::int32_t index, bool roundabout = false) {
    auto point = std::make_shared<OsmPathElement>(J_LON + pos.east * EAST, J_LAT + pos.north * NORTH, 400, nullptr);
    point->cost = 10 * index;
    point->message = std::make_shared<MessageData>();
    point->message->time = static_cast<float>(index);
    point->message->energy = 100.0f * index;
    point->message->wayTags = "highway=residential";
    if (roundabout) point->message->classifierMask = 4;
    return point;
}

// A track through the positions; point k has cost 10 k, time k and energy 100 k.
std::shared_ptr<OsmTrack> track(const std::vector<Pos>& positions, const std::vector<bool>& roundabout = {}) {
    auto t = std::make_shared<OsmTrack>();
    for (std::size_t i = 0; i < positions.size(); ++i) {
        t->points.push_back(
            pointAt(positions[i], static_cast<std::int32_t>(i), i < roundabout.size() && roundabout[i]));
    }
    t->cost = t->points.back()->cost;
    return t;
}

std::vector<std::pair<std::int32_t, std::int32_t>> positionsOf(const OsmTrack& t) {
    std::vector<std::pair<std::int32_t, std::int32_t>> positions;
    for (const auto& point : t.points) {
        positions.emplace_back((point->ilon - J_LON) / EAST, (point->ilat - J_LAT) / NORTH);
    }
    return positions;
}

using Positions = std::vector<std::pair<std::int32_t, std::int32_t>>;

class ViaPointCorrection : public ::testing::Test {
protected:
    void SetUp() override {
        network.way("highway=residential", {network.node(8.0, 50.0), network.node(8.001, 50.0)});
        f.load(network, testProfile());
        f.rc.correctMisplacedViaPointsDistance = 400.0;
        f.rc.waypointCatchingRange = 250.0;
        via.name = "via1";
        via.crossPoint = std::make_shared<mapaccess::OsmNode>(J_LON + V.east * EAST, J_LAT + V.north * NORTH);
    }

    void snap(OsmTrack& tt, OsmTrack& t) { f.engine->snapPathConnection(tt, t, via); }

    testsupport::TestNetwork network;
    SearchFixture f;
    mapaccess::MatchedWaypoint via;
};

TEST_F(ViaPointCorrection, DeadEndOfThreeSegmentsIsCutAtTheJunction) {
    auto tt = track({S0, S1, J, X1, X2, V});
    auto t = track({V, X2, X1, J, N1, N2});
    tt->turnHints = std::make_unique<VoiceHintList>();
    for (const std::int32_t index : {1, 2, 3, 4, 5, 5}) tt->turnHints->hints.push_back({.trackIndex = index});

    snap(*tt, *t);

    EXPECT_EQ(positionsOf(*tt), (Positions{{-2, 0}, {-1, 0}, {0, 0}}));
    EXPECT_EQ(positionsOf(*t), (Positions{{0, 0}, {1, 0}, {2, 0}}));
    // The next leg starts at 0 at the junction.
    EXPECT_EQ(t->points[0]->cost, 0);
    EXPECT_FLOAT_EQ(t->points[0]->message->time, 0.0f);
    EXPECT_FLOAT_EQ(t->points[2]->message->energy, 200.0f);
    EXPECT_EQ(t->points[2]->cost, 20);
    EXPECT_EQ(t->cost, 20);
    EXPECT_EQ(tt->cost, 20);
    // One instruction each at the via point, the spur points and the junction goes.
    std::vector<std::int32_t> left;
    for (const VoiceHint& hint : tt->turnHints->hints) left.push_back(hint.trackIndex);
    EXPECT_EQ(left, (std::vector<std::int32_t>{1, 5}));
}

TEST_F(ViaPointCorrection, DeadEndOfOneSegmentKeepsTheLegsValues) {
    auto tt = track({S0, S1, J, V});
    auto t = track({V, J, N1, N2});
    snap(*tt, *t);
    EXPECT_EQ(positionsOf(*tt), (Positions{{-2, 0}, {-1, 0}, {0, 0}}));
    EXPECT_EQ(positionsOf(*t), (Positions{{0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(t->points[0]->cost, 10); // only one point left the leg: no re-basing
    EXPECT_FLOAT_EQ(t->points[0]->message->time, 1.0f);
}

TEST_F(ViaPointCorrection, SpurLongerThanTheLimitStays) {
    f.rc.correctMisplacedViaPointsDistance = 100.0; // the spur is 150 m
    auto tt = track({S0, S1, J, X1, X2, V});
    auto t = track({V, X2, X1, J, N1, N2});
    snap(*tt, *t);
    EXPECT_EQ(tt->points.size(), 6u);
    EXPECT_EQ(t->points.size(), 6u);

    f.rc.correctMisplacedViaPointsDistance = 0.0; // no limit
    snap(*tt, *t);
    EXPECT_EQ(tt->points.size(), 3u);
    EXPECT_EQ(t->points.size(), 3u);
}

TEST_F(ViaPointCorrection, OnlyViaAndRoundTripPointsWithoutNearbyPoiAreCorrected) {
    for (const char* name : {"to", "from", "wpt"}) {
        via.name = name;
        auto tt = track({S0, S1, J, V});
        auto t = track({V, J, N1, N2});
        snap(*tt, *t);
        EXPECT_EQ(tt->points.size(), 4u) << name;
    }
    via.name = "rt2";
    auto tt = track({S0, S1, J, V});
    auto t = track({V, J, N1, N2});
    snap(*tt, *t);
    EXPECT_EQ(tt->points.size(), 3u);

    via.name = "via1";
    f.rc.poiList.push_back(std::make_shared<OsmNodeNamed>(J_LON, J_LAT, "cafe")); // 150 m from the via point
    tt = track({S0, S1, J, V});
    t = track({V, J, N1, N2});
    snap(*tt, *t);
    EXPECT_EQ(tt->points.size(), 4u);
}

TEST_F(ViaPointCorrection, LegStartingAwayFromTheTrackEndIsNotCorrected) {
    auto tt = track({S0, S1, J, V});
    auto t = track({V, J, N1, N2});
    t->points[0]->ilat += 18; // 2 m north
    snap(*tt, *t);
    EXPECT_EQ(tt->points.size(), 4u);
    EXPECT_EQ(t->points.size(), 4u);
}

TEST_F(ViaPointCorrection, LegRunningBackOverTheWholeTrackKeepsItsLastPoint) {
    auto tt = track({S0, J, X1, X2, V});
    auto t = track({V, X2, X1, J});
    snap(*tt, *t);
    // The first point of the track so far is never paired.
    EXPECT_EQ(positionsOf(*tt), (Positions{{-2, 0}, {0, 0}}));
    EXPECT_EQ(positionsOf(*t), (Positions{{0, 0}}));
    EXPECT_EQ(t->points[0]->cost, 0);
}

TEST_F(ViaPointCorrection, WalksStopAfterFiveHundredSteps) {
    f.rc.correctMisplacedViaPointsDistance = 0.0;
    auto tt = std::make_shared<OsmTrack>();
    for (std::int32_t i = 0; i < 600; ++i) tt->points.push_back(pointAt({0, i}, i));
    auto t = std::make_shared<OsmTrack>();
    for (std::int32_t i = 0; i < 560; ++i) t->points.push_back(pointAt({0, 599 - i}, i));
    via.crossPoint = std::make_shared<mapaccess::OsmNode>(J_LON, J_LAT + 599 * NORTH);
    snap(*tt, *t);
    ASSERT_EQ(tt->points.size(), 100u);
    EXPECT_EQ(tt->points.back()->ilat, J_LAT + 99 * NORTH);
    ASSERT_EQ(t->points.size(), 60u);
    EXPECT_EQ(t->points.front()->ilat, J_LAT + 99 * NORTH); // the leg's point 500
}

TEST_F(ViaPointCorrection, RoundaboutAtTheJointIsCutBackWithoutBridgeWhenNoDetours) {
    // The track so far enters a roundabout (R1, R2) and leaves it to the via
    // point V; the next leg comes back into the roundabout (R3, R4) and
    // leaves it at Q1.
    constexpr Pos P0{-3, 0}, P1{-2, 0}, R1{-1, 0}, R2{-1, 1}, R3{0, 1}, R4{1, 1}, Q1{2, 1}, Q2{3, 1};
    auto tt = track({P0, P1, R1, R2, V}, {false, false, true, true, false});
    auto t = track({V, R3, R4, Q1, Q2}, {false, true, true, false, false});
    snap(*tt, *t);
    EXPECT_EQ(positionsOf(*tt), (Positions{{-3, 0}, {-2, 0}, {-1, 0}, {-1, 1}}));
    EXPECT_EQ(positionsOf(*t), (Positions{{0, 1}, {1, 1}, {2, 1}, {3, 1}}));
    EXPECT_EQ(tt->cost, 30);
    EXPECT_EQ(t->cost, 40); // one point left the leg: no re-basing
}

} // namespace
} // namespace ferrow::router::testing
