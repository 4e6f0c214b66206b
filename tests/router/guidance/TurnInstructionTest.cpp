#include <cstdint>
#include <memory>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "mapaccess/MatchedWaypoint.h"
#include "router/costing/RoutingContext.h"
#include "router/guidance/VoiceHintList.h"
#include "router/track/OsmTrack.h"
#include "router/waypoints/OsmNodeNamed.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

// A track made by hand: points 1000 grid units apart, each after the first
// with the record of the section arriving there, and ways leaving its
// junctions registered as detours.
class HandTrack : public ::testing::Test {
protected:
    void SetUp() override {
        rc.validForCars = true;
        rc.turnInstructionCatchingRange = 40.0;
        rc.turnInstructionRoundabouts = true;
        rc.turnInstructionMode = 1;
    }

    static std::shared_ptr<MessageData> section(float angle, std::int32_t distance, std::int32_t priority = 20,
                                                std::int32_t mask = 0) {
        auto message = std::make_shared<MessageData>();
        message->turnAngle = angle;
        message->distance = distance;
        message->priorityClassifier = priority;
        message->classifierMask = mask;
        return message;
    }

    void start() { addPoint(nullptr); }
    void point(float angle, std::int32_t distance, std::int32_t priority = 20, std::int32_t mask = 0) {
        addPoint(section(angle, distance, priority, mask));
    }

    // A way leaving point `at`: a point beyond the junction whose origin lies at it.
    void detour(std::size_t at, float angle, std::int32_t priority = 20, std::int32_t mask = 0) {
        const OsmPathElement& junction = *track.points[at];
        auto origin = std::make_shared<OsmPathElement>(junction.ilon, junction.ilat, 0, nullptr);
        auto beyond = std::make_shared<OsmPathElement>(junction.ilon, junction.ilat + 500, 0, origin.get());
        beyond->message = section(angle, 30, priority, mask);
        track.registerDetourForId(junction.getIdFromPos(), beyond);
        kept.push_back(std::move(origin));
    }

    const std::vector<VoiceHint>& hints() {
        track.processVoiceHints(rc);
        return track.turnHints->hints;
    }

    RoutingContext rc;
    OsmTrack track;
    std::vector<std::shared_ptr<OsmPathElement>> kept;

private:
    void addPoint(std::shared_ptr<MessageData> message) {
        const auto k = static_cast<std::int32_t>(track.points.size());
        auto p = std::make_shared<OsmPathElement>(188000000 + 1000 * k, 140000000, 0, nullptr);
        p->message = std::move(message);
        if (!track.points.empty()) p->origin = track.points.back().get();
        track.points.push_back(std::move(p));
    }
};

TEST_F(HandTrack, NothingWithoutDetoursOrStraightLegs) {
    start();
    point(90.0f, 50);
    point(0.0f, 50);
    rc.validForCars = false;
    rc.validForBikes = true;
    rc.turnInstructionMode = 3;
    EXPECT_TRUE(hints().empty());
    EXPECT_EQ(track.turnHints->transportMode, VoiceHintList::TRANSPORT_MODE_BIKE);
    EXPECT_EQ(track.turnHints->turnInstructionMode, 3);

    // Empty and one-point tracks get an empty list as well.
    OsmTrack empty;
    rc.hasDirectRouting = true;
    empty.processVoiceHints(rc);
    ASSERT_TRUE(empty.turnHints);
    EXPECT_TRUE(empty.turnHints->hints.empty());
    OsmTrack single;
    single.points.push_back(std::make_shared<OsmPathElement>(1, 1, 0, nullptr));
    single.registerDetourForId(single.points[0]->getIdFromPos(), std::make_shared<OsmPathElement>(1, 2, 0, nullptr));
    single.processVoiceHints(rc);
    EXPECT_TRUE(single.turnHints->hints.empty());
}

TEST_F(HandTrack, RightTurnBesideAStraightRoad) {
    start();
    point(0.0f, 50);
    point(0.0f, 50);
    point(90.0f, 50); // the route turns right at point 2
    point(0.0f, 50);
    detour(2, 0.0f);
    detour(1, -90.0f, 10); // a minor road off to the side: no instruction
    const auto& list = hints();
    ASSERT_EQ(list.size(), 1u);
    const VoiceHint& hint = list[0];
    EXPECT_EQ(hint.command, VoiceHint::TURN_RIGHT);
    EXPECT_EQ(hint.trackIndex, 2);
    EXPECT_EQ(hint.ilon, track.points[2]->ilon);
    EXPECT_FLOAT_EQ(hint.hintAngle, 90.0f);
    EXPECT_DOUBLE_EQ(hint.distanceToNextHint, 100.0); // to the route's end
    EXPECT_EQ(hint.chosenWay, track.points[3]->message);
    EXPECT_EQ(hint.incomingWay, track.points[2]->message);
    ASSERT_EQ(hint.otherWays.size(), 1u);
    EXPECT_FLOAT_EQ(hint.lowerOtherAngle, 0.0f);
}

// In travel order: start, entry E, roundabout nodes R1 and R2 with an exit
// each, the exit S, the end.
class Roundabout : public HandTrack {
protected:
    void SetUp() override {
        HandTrack::SetUp();
        start();
        point(0.0f, 100);
        point(30.0f, 20, 0, VoiceHint::MASK_ROUNDABOUT);  // E to R1
        point(-40.0f, 20, 0, VoiceHint::MASK_ROUNDABOUT); // R1 to R2
        point(-40.0f, 20, 0, VoiceHint::MASK_ROUNDABOUT); // R2 to S
        point(30.0f, 100);                                // S to the end
        detour(1, 0.0f);
        detour(2, 50.0f, 20, VoiceHint::MASK_ROUNDABOUT_EXIT);
        detour(3, 45.0f, 20, VoiceHint::MASK_ROUNDABOUT_EXIT);
        detour(4, -50.0f, 0, VoiceHint::MASK_ROUNDABOUT);
    }
};

TEST_F(Roundabout, OneHintWithTheExitNumber) {
    const auto& list = hints();
    ASSERT_EQ(list.size(), 1u);
    const VoiceHint& hint = list[0];
    EXPECT_EQ(hint.command, VoiceHint::ROUNDABOUT);
    EXPECT_EQ(hint.roundaboutExitCount, 3);
    EXPECT_EQ(hint.trackIndex, 1);
    // 30 at the exit, then -40 twice; at the exit the roundabout's own way
    // (-50) replaces the way taken out of it.
    EXPECT_FLOAT_EQ(hint.hintAngle, -130.0f);
    EXPECT_FLOAT_EQ(track.points[2]->message->turnAngle, -130.0f);
    EXPECT_DOUBLE_EQ(hint.distanceToNextHint, 160.0);
    // The exits passed inside, at the angle turned up to each.
    ASSERT_EQ(hint.otherWays.size(), 2u);
    EXPECT_FLOAT_EQ(hint.otherWays[0]->turnAngle, -40.0f);
    EXPECT_FLOAT_EQ(hint.otherWays[1]->turnAngle, -80.0f);
    EXPECT_EQ(hint.otherWays[1]->distance, 20);
}

TEST_F(Roundabout, EveryJunctionOnItsOwnWithoutExplicitRoundabouts) {
    rc.turnInstructionRoundabouts = false;
    const auto& list = hints();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].command, VoiceHint::TURN_SLIGHT_RIGHT);
    EXPECT_EQ(list[1].command, VoiceHint::TURN_SLIGHT_LEFT);
    EXPECT_EQ(list[2].command, VoiceHint::TURN_SLIGHT_LEFT);
    EXPECT_EQ(list[3].command, VoiceHint::TURN_SLIGHT_RIGHT);
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].trackIndex, static_cast<std::int32_t>(i) + 1);
        EXPECT_FALSE(list[i].isRoundabout());
    }
    EXPECT_DOUBLE_EQ(list[3].distanceToNextHint, 100.0);
}

TEST_F(HandTrack, StraightLineLegsAreMarked) {
    point(25.0f, 0); // a first point with a record of its own
    point(15.0f, 50);
    point(-35.0f, 50);
    rc.hasDirectRouting = true;
    rc.turnInstructionMode = 2;
    for (const auto& [kind, index] :
         {std::pair{OsmNodeNamed::KIND_STRAIGHT, 0}, std::pair{OsmNodeNamed::KIND_STRAIGHT, 1},
          std::pair{OsmNodeNamed::KIND_ORDINARY, 2}}) {
        auto waypoint = std::make_shared<mapaccess::MatchedWaypoint>();
        waypoint->kind = kind;
        waypoint->indexInTrack = index;
        track.matchedWaypoints.push_back(waypoint);
    }
    const auto& list = hints();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].command, VoiceHint::BEELINE);
    EXPECT_EQ(list[0].trackIndex, 0);
    EXPECT_FLOAT_EQ(list[0].hintAngle, 25.0f); // the first point's own record
    EXPECT_DOUBLE_EQ(list[0].distanceToNextHint, track.points[1]->calcDistance(*track.points[0]));
    EXPECT_EQ(list[1].command, VoiceHint::BEELINE);
    EXPECT_FLOAT_EQ(list[1].hintAngle, -35.0f); // the record of the section after it

    rc.turnInstructionMode = 1; // marks none
    EXPECT_TRUE(hints().empty());
}

TEST_F(HandTrack, EndlessDetourChainFails) {
    start();
    point(0.0f, 50);
    auto first = std::make_shared<OsmPathElement>(5, 5, 0, nullptr);
    auto second = std::make_shared<OsmPathElement>(6, 6, 0, first.get());
    first->origin = second.get();
    track.registerDetourForId(track.points[0]->getIdFromPos(), first);
    EXPECT_THAT([&] { track.processVoiceHints(rc); },
                ::testing::ThrowsMessage<jcompat::IllegalArgumentException>("ups: 188000000_140000000->5_5"));
}

// The detailed search along a guide notes the ways it passes by; the turns
// onto and off the road round the block become instructions.
TEST(TurnInstructions, TurnsOfARetrackedRoute) {
    //        C ====== D
    //        |        |
    //  W - P - A ---- B - Q - Z
    TestNetwork net;
    const NodeRef w = net.node(7.990, 50.000);
    const NodeRef p = net.node(7.995, 50.000);
    const NodeRef a = net.node(8.000, 50.000);
    const NodeRef b = net.node(8.010, 50.000);
    const NodeRef q = net.node(8.015, 50.000);
    const NodeRef z = net.node(8.020, 50.000);
    const NodeRef c = net.node(8.000, 50.003);
    const NodeRef d = net.node(8.010, 50.003);
    net.way("highway=residential", {w, p, a});
    net.way("highway=residential", {a, b});
    net.way("highway=residential", {b, q, z});
    net.way("highway=primary", {a, c, d, b});

    SearchFixture f;
    f.load(net, testProfile());
    f.rc.turnInstructionMode = 1;
    auto guide = std::make_shared<OsmTrack>();
    for (const NodeRef node : {w, p, a, c, d, b, q, z}) {
        auto point = std::make_shared<OsmPathElement>(f.at(node).ilon, f.at(node).ilat, 0, nullptr);
        if (!guide->points.empty()) point->origin = guide->points.back().get();
        guide->points.push_back(point);
    }
    guide->buildMap();
    const auto track = f.retrack(f.on(w, p), f.on(q, z), guide);
    ASSERT_TRUE(track);
    ASSERT_EQ(f.nodesOf(*track), (std::vector<int>{-1, p.index, a.index, c.index, d.index, b.index, q.index, -1}));

    track->processVoiceHints(f.rc);
    const auto& list = track->turnHints->hints;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].command, VoiceHint::TURN_LEFT); // north at A, beside the street on
    EXPECT_EQ(list[0].trackIndex, 2);
    EXPECT_EQ(list[0].ilon, f.at(a).ilon);
    EXPECT_EQ(list[1].command, VoiceHint::TURN_LEFT); // east at B, beside the street back west
    EXPECT_EQ(list[1].trackIndex, 5);
    const auto& points = track->points;
    EXPECT_DOUBLE_EQ(list[0].distanceToNextHint,
                     points[3]->message->distance + points[4]->message->distance + points[5]->message->distance);
    EXPECT_DOUBLE_EQ(list[1].distanceToNextHint, points[6]->message->distance + points[7]->message->distance);
    EXPECT_EQ(track->turnHints->transportMode, VoiceHintList::TRANSPORT_MODE_CAR);
}

} // namespace
} // namespace ferrow::router::testing
