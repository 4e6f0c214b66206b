#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "router/engine/RoutingIslandException.h"
#include "router/engine/SearchCutShortException.h"
#include "router/waypoints/OsmNogoPolygon.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

// The rectangle town; its street may be used westwards only when it is a oneway.
class Town : public ::testing::Test {
protected:
    void build(bool onewayStreet) {
        town = std::make_unique<RectangleTown>(onewayStreet ? "highway=primary oneway=yes" : "highway=residential",
                                               "highway=primary", true);
        p = town->p;
        a = town->a;
        b = town->b;
        q = town->q;
        c = town->c;
        d = town->d;
    }

    // A track through the nodes, as a guide for re-tracking.
    std::shared_ptr<OsmTrack> guideThrough(const SearchFixture& f, std::vector<NodeRef> nodes) const {
        auto track = std::make_shared<OsmTrack>();
        for (NodeRef node : nodes) {
            auto point = std::make_shared<OsmPathElement>(f.at(node).ilon, f.at(node).ilat, 0, nullptr);
            if (!track->points.empty()) point->origin = track->points.back().get();
            track->points.push_back(point);
        }
        track->buildMap();
        return track;
    }

    std::unique_ptr<RectangleTown> town;
    NodeRef p, a, b, q, c, d;
};

// The detailed search keeps to its guide even where another way is cheaper;
// with turn instructions asked for, the ways it passes by are noted as detours.
TEST_F(Town, RetrackingKeepsToTheGuide) {
    build(false);
    SearchFixture f;
    f.load(town->net, testProfile());
    f.rc.turnInstructionMode = 1;
    const auto from = f.on(p, a);
    const auto to = f.on(b, q);
    auto track = f.retrack(from, to, guideThrough(f, {p, a, b, q}));
    ASSERT_TRUE(track);
    ASSERT_EQ(track->points.size(), 4u); // the cross points and A, B
    EXPECT_EQ(track->points[1]->ilon, f.at(a).ilon);
    EXPECT_EQ(track->points[2]->ilon, f.at(b).ilon);
    const std::int32_t d1 = metres(track->points[0]->ilon, track->points[0]->ilat, f.at(a).ilon, f.at(a).ilat);
    const std::int32_t d3 = metres(f.at(b).ilon, f.at(b).ilat, track->points[3]->ilon, track->points[3]->ilat);
    EXPECT_EQ(track->cost, 2 * (d1 + f.metresBetween(a, b) + d3));

    // At A the primary road to C leaves the guide; at B the one to D.
    ASSERT_TRUE(track->detourMap);
    const auto* atA = track->getFromDetourMap(mapaccess::OsmPos::idFromPos(f.at(a).ilon, f.at(a).ilat));
    ASSERT_NE(atA, nullptr);
    EXPECT_EQ(atA->element->ilat, f.at(c).ilat);
    ASSERT_TRUE(atA->element->message);
    EXPECT_EQ(atA->element->message->wayTags, "highway=primary");
    const auto* atB = track->getFromDetourMap(mapaccess::OsmPos::idFromPos(f.at(b).ilon, f.at(b).ilat));
    ASSERT_NE(atB, nullptr);
    EXPECT_EQ(atB->element->ilat, f.at(d).ilat);
}

TEST_F(Town, RetrackingWithoutTurnInstructionsNotesNoDetours) {
    build(false);
    SearchFixture f;
    f.load(town->net, testProfile());
    auto track = f.retrack(f.on(p, a), f.on(b, q), guideThrough(f, {p, a, b, q}));
    ASSERT_TRUE(track);
    EXPECT_FALSE(track->detourMap);
}

// A guide that leads nowhere the graph goes: nothing is found, and a guide
// of one point gives no index to follow (counted from its end when routing
// inversely, the index would lie before its start).
TEST_F(Town, RetrackingAlongAnImpossibleGuide) {
    build(false);
    SearchFixture f;
    f.load(town->net, testProfile());
    EXPECT_THROW(f.retrack(f.on(p, a), f.on(b, q), guideThrough(f, {p})), RoutingIslandException);
    for (int i = 0; i < 5; ++i) EngineProbe::islandNodePairs(*f.engine).freezeTempPairs(); // no more island exceptions
    EXPECT_EQ(f.retrack(f.on(p, a), f.on(b, q), guideThrough(f, {p, a, d, b, q})), nullptr);
    EXPECT_EQ(f.retrack(f.on(p, a), f.on(b, q), guideThrough(f, {p})), nullptr);
    f.settings.inverseDirection = true;
    EXPECT_EQ(f.retrack(f.on(b, q), f.on(p, a), guideThrough(f, {p})), nullptr);
}

// Routing inversely: the search runs from the end back to the start with the
// costs of the forward direction, and the track comes out in travel order.
TEST_F(Town, InverseRouting) {
    build(true);
    SearchFixture f;
    f.load(town->net, testProfile());
    const auto from = f.on(p, a);
    const auto to = f.on(b, q);
    auto forward = f.search(from, to);
    ASSERT_TRUE(forward);
    EXPECT_EQ(f.nodesOf(*forward), (std::vector<int>{p.index, a.index, c.index, d.index, b.index, q.index}));

    f.settings.inverseDirection = true;
    auto inverse = f.search(to, from);
    ASSERT_TRUE(inverse);
    EXPECT_EQ(f.nodesOf(*inverse), (std::vector<int>{p.index, a.index, c.index, d.index, b.index, q.index}));
    EXPECT_EQ(inverse->cost, forward->cost);

    // Re-tracking inversely counts the guide from its end; times run from
    // the start of travel.
    auto detailed = f.retrack(to, from, inverse);
    ASSERT_TRUE(detailed);
    ASSERT_EQ(detailed->points.size(), 6u);
    EXPECT_EQ(detailed->points[1]->ilon, f.at(a).ilon);
    EXPECT_EQ(detailed->points[4]->ilon, f.at(b).ilon);
    EXPECT_EQ(detailed->cost, forward->cost);
    float last = -1.0f;
    for (const auto& point : detailed->points) {
        ASSERT_TRUE(point->message);
        EXPECT_GE(point->message->time, last);
        last = point->message->time;
    }
    EXPECT_FLOAT_EQ(detailed->points.front()->message->time, 0.0f);
}

// A recalculation near a stored track: the search meets the track at once,
// and as soon as it gets dearer than 30 times its first meeting cost it gives
// up; the match path joined with the rest of the track stands in for a result.
TEST_F(Town, EarlyExitOfACloseRecalculation) {
    build(false);
    SearchFixture f;
    f.load(town->net, testProfile());
    const auto from = f.on(p, a);
    const auto to = f.on(b, q);
    auto nearby = f.search(from, to);
    ASSERT_TRUE(nearby);
    try {
        f.engine->findTrack("re-routing", from, &to, nearby.get(), nullptr, true);
        FAIL() << "no early exit";
    } catch (const SearchCutShortException& failure) {
        EXPECT_EQ(failure.getMessage(), "early exit for a close recalc");
    }
    ASSERT_NE(EngineProbe::matchPath(*f.engine), nullptr);
    auto merged = f.engine->mergeTrack(*EngineProbe::matchPath(*f.engine), *nearby);
    EXPECT_EQ(f.nodesOf(*merged), f.nodesOf(*nearby));
    EXPECT_EQ(merged->cost, nearby->cost);
    for (std::size_t i = 1; i < merged->points.size(); ++i) {
        EXPECT_EQ(merged->points[i]->origin, merged->points[i - 1].get());
    }

    // A track marked as cut short gives no early exit: the search completes.
    nearby->dirty = true;
    auto complete = f.engine->findTrack("re-routing", from, &to, nearby.get(), nullptr, true);
    ASSERT_TRUE(complete);
    EXPECT_EQ(f.nodesOf(*complete), f.nodesOf(*nearby));
}

TEST_F(Town, MergeTrackAfterTheMatch) {
    build(false);
    SearchFixture f;
    f.load(town->net, testProfile());
    // old: P A C D B Q; the match chain P -> A -> C reaches it over A-C.
    std::shared_ptr<OsmTrack> oldTrack = guideThrough(f, {p, a, c, d, b, q});
    OsmTrack& old = *oldTrack;
    old.cost = 1234;
    OsmPathElement start(f.at(p).ilon, f.at(p).ilat, 0, nullptr);
    OsmPathElement atA(f.at(a).ilon, f.at(a).ilat, 0, &start);
    OsmPathElement atC(f.at(c).ilon, f.at(c).ilat, 0, &atA);
    auto merged = f.engine->mergeTrack(atC, old);
    EXPECT_EQ(f.nodesOf(*merged), (std::vector<int>{p.index, a.index, c.index, d.index, b.index, q.index}));
    EXPECT_EQ(merged->cost, 1234);
    // A match whose link the old track does not run over adds nothing of it.
    OsmPathElement atB(f.at(b).ilon, f.at(b).ilat, 0, &atA);
    EXPECT_EQ(f.nodesOf(*f.engine->mergeTrack(atB, old)), (std::vector<int>{p.index, a.index, b.index}));
}

// No-go areas holding the start or end point are left out of that search
// only; the context's list is whole again afterwards.
TEST_F(Town, NogoAreasAtTheWaypointsAreLeftOut) {
    build(false);
    SearchFixture f;
    f.load(town->net, testProfile());
    const auto from = f.on(p, a);
    const auto to = f.on(b, q);
    // An absolute no-go circle of 100 m round the start's cross point, and
    // one round the middle of the primary road's top.
    auto atStart = std::make_shared<OsmNodeNamed>(from.crossPoint->ilon, from.crossPoint->ilat, "nogo100");
    atStart->isNogo = true;
    atStart->radius = 100;
    atStart->nogoWeight = std::numeric_limits<double>::quiet_NaN();
    auto onTop = std::make_shared<OsmNodeNamed>((f.at(c).ilon + f.at(d).ilon) / 2, f.at(c).ilat, "nogo100");
    onTop->isNogo = true;
    onTop->radius = 100;
    onTop->nogoWeight = std::numeric_limits<double>::quiet_NaN();
    f.rc.nogoPoints = {atStart, onTop};
    f.rc.nogoPointsAll = f.rc.nogoPoints;
    auto track = f.search(from, to);
    ASSERT_TRUE(track);
    // The primary road is closed: the street it is.
    EXPECT_EQ(f.nodesOf(*track), (std::vector<int>{p.index, a.index, b.index, q.index}));
    EXPECT_EQ(f.rc.nogoPoints.size(), 2u);
}

} // namespace
} // namespace ferrow::router::testing
