#include <cstdint>
#include <memory>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "router/track/OsmTrack.h"
#include "util/FrozenLongMap.h"

namespace ferrow::router {
namespace {

std::int64_t idOf(std::int32_t ilon, std::int32_t ilat) { return static_cast<std::int64_t>(ilon) << 32 | ilat; }

// Appends a point at (ilon, ilat), continuing from the track's last point.
std::shared_ptr<OsmPathElement> add(OsmTrack& track, std::int32_t ilon, std::int32_t ilat, std::int32_t cost = 0,
                                    float time = -1.0f) {
    auto point = std::make_shared<OsmPathElement>(ilon, ilat, static_cast<std::int16_t>(400), nullptr);
    point->cost = cost;
    if (!track.points.empty()) point->origin = track.points.back().get();
    if (time >= 0.0f) {
        point->message = std::make_shared<MessageData>();
        point->message->time = time;
        point->message->energy = time * 10.0f;
        point->message->ilon = ilon;
        point->message->ilat = ilat;
    }
    track.points.push_back(point);
    return point;
}

TEST(OsmTrack, LinksOfATrackThatPassesANodeTwice) {
    // A -> X -> B -> Y -> X -> C: X is reached from A and later from Y.
    OsmTrack track;
    add(track, 1, 1);
    add(track, 5, 5);
    add(track, 2, 2);
    add(track, 3, 3);
    add(track, 5, 5);
    add(track, 4, 4);
    track.buildMap();
    EXPECT_EQ(track.getLink(idOf(1, 1), idOf(5, 5)), track.points[1].get());
    EXPECT_EQ(track.getLink(idOf(3, 3), idOf(5, 5)), track.points[4].get());
    EXPECT_EQ(track.getLink(idOf(2, 2), idOf(5, 5)), nullptr);
    EXPECT_EQ(track.getLink(idOf(5, 5), idOf(9, 9)), nullptr);
    EXPECT_EQ(track.getLink(idOf(5, 5), idOf(2, 2)), track.points[2].get());
    // The map is frozen.
    EXPECT_NE(dynamic_cast<util::FrozenLongMap<OsmTrack::OsmPathElementHolder*>*>(track.pointMap.get()), nullptr);
    EXPECT_EQ(track.pointMap->size(), 5);
}

// A long track on a grid of positions: every link of it is found (the quick
// filter in front of the map never says no to a point of the map), and a
// point beside the track is not.
TEST(OsmTrack, EveryLinkOfALongTrackIsFound) {
    OsmTrack track;
    for (std::int32_t i = 0; i < 3000; ++i) add(track, 8000000 + 37 * i, 50000000 + (i * 7919) % 1000);
    track.buildMap();
    for (std::size_t i = 1; i < track.points.size(); ++i) {
        const OsmPathElement& from = *track.points[i - 1];
        ASSERT_EQ(track.getLink(from.getIdFromPos(), track.points[i]->getIdFromPos()), track.points[i].get()) << i;
        EXPECT_EQ(track.getLink(from.getIdFromPos(), idOf(from.ilon + 1, from.ilat)), nullptr);
    }
}

TEST(OsmTrack, GetLinkWithoutMapIsAbsent) {
    OsmTrack track;
    add(track, 1, 1);
    add(track, 2, 2);
    EXPECT_EQ(track.getLink(idOf(1, 1), idOf(2, 2)), nullptr);
}

TEST(OsmTrack, AppendLegIntoAnEmptyTrackKeepsEveryPoint) {
    OsmTrack whole;
    OsmTrack leg;
    for (int i = 0; i < 4; ++i) add(leg, i, i, 10 * i, static_cast<float>(i));
    leg.distance = 30;
    leg.cost = 30;
    whole.appendLeg(leg);
    ASSERT_EQ(whole.points.size(), 4u);
    EXPECT_EQ(whole.points[0], leg.points[0]); // the very same points
    EXPECT_EQ(whole.points[3]->cost, 30);
    EXPECT_EQ(whole.distance, 30);
    EXPECT_EQ(whole.cost, 30);
    EXPECT_EQ(whole.energy, 30);
}

TEST(OsmTrack, AppendLegContinuesTimesEnergiesAndCosts) {
    OsmTrack whole;
    for (int i = 0; i < 5; ++i) add(whole, i, 0, 25 * i, 25.0f * static_cast<float>(i));
    whole.points.back()->selev = -32768;
    whole.distance = 100;
    whole.cost = 100;
    whole.plainAscend = 3;
    OsmTrack leg;
    add(leg, 4, 0, 0, 0.0f)->selev = 123;
    add(leg, 5, 0, 7, 10.0f);
    add(leg, 6, 0, 9, 20.0f);
    add(leg, 7, 0, 11, 30.0f);
    leg.points[2]->message->ilon = 99; // a record that names another place
    leg.distance = 40;
    leg.cost = 11;
    leg.plainAscend = 2;
    leg.showspeed = true;

    whole.appendLeg(leg);
    ASSERT_EQ(whole.points.size(), 8u);     // 5 + 4, the leg's first point dropped
    EXPECT_EQ(whole.points[4]->selev, 123); // the missing elevation taken from the leg
    EXPECT_EQ(whole.points[5], leg.points[1]);
    EXPECT_EQ(whole.points[5]->origin, whole.points[4].get());
    std::vector<float> times;
    std::vector<std::int32_t> costs;
    for (const auto& point : whole.points) {
        times.push_back(point->message->time);
        costs.push_back(point->cost);
    }
    EXPECT_EQ(times, (std::vector<float>{0, 25, 50, 75, 100, 110, 120, 130}));
    EXPECT_EQ(costs, (std::vector<std::int32_t>{0, 25, 50, 75, 100, 107, 109, 111}));
    EXPECT_FLOAT_EQ(whole.points[7]->message->energy, 1300.0f);
    EXPECT_EQ(whole.points[6]->message->ilon, 6);
    EXPECT_EQ(whole.distance, 140);
    EXPECT_EQ(whole.cost, 111);
    EXPECT_EQ(whole.plainAscend, 5);
    EXPECT_EQ(whole.energy, 1300);
    EXPECT_TRUE(whole.showspeed);
    EXPECT_FALSE(whole.showSpeedProfile);
    // The leg keeps its points (the next alternative reads them).
    EXPECT_EQ(leg.points.size(), 4u);
}

TEST(OsmTrack, AppendLegShiftsTurnInstructions) {
    OsmTrack whole;
    for (int i = 0; i < 3; ++i) add(whole, i, 0);
    OsmTrack leg;
    for (int i = 2; i < 5; ++i) add(leg, i, 0);
    leg.turnHints = std::make_unique<VoiceHintList>();
    leg.turnHints->hints.push_back({.trackIndex = 1});
    whole.appendLeg(leg);
    ASSERT_TRUE(whole.turnHints);
    ASSERT_EQ(whole.turnHints->hints.size(), 1u);
    EXPECT_EQ(whole.turnHints->hints[0].trackIndex, 3);
}

TEST(OsmTrack, DetourChains) {
    OsmTrack track;
    EXPECT_EQ(track.getFromDetourMap(7), nullptr);
    track.registerDetourForId(7, std::make_shared<OsmPathElement>(1, 1, 0, nullptr));
    track.registerDetourForId(8, std::make_shared<OsmPathElement>(2, 2, 0, nullptr));
    track.registerDetourForId(7, std::make_shared<OsmPathElement>(3, 3, 0, nullptr));
    const auto* chain = track.getFromDetourMap(7);
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(chain->element->ilon, 1);
    ASSERT_NE(chain->next, nullptr);
    EXPECT_EQ(chain->next->element->ilon, 3);
    EXPECT_EQ(chain->next->next, nullptr);

    // A frozen copy shares the chains; the frozen map takes no new identifier.
    OsmTrack copy;
    copy.copyDetoursOf(track);
    EXPECT_EQ(copy.getFromDetourMap(7), chain);
    copy.registerDetourForId(7, std::make_shared<OsmPathElement>(4, 4, 0, nullptr)); // extends a chain
    EXPECT_EQ(chain->next->next->element->ilon, 4);
    EXPECT_THAT(
        [&] { copy.registerDetourForId(9, std::make_shared<OsmPathElement>(5, 5, 0, nullptr)); },
        ::testing::ThrowsMessage<jcompat::RuntimeException>(::testing::StrEq("cannot put on FrozenLongIntMap")));
}

TEST(OsmTrack, AppendLegJoinsDetourMaps) {
    OsmTrack whole;
    add(whole, 1, 0);
    add(whole, 2, 0);
    whole.registerDetourForId(idOf(1, 0), std::make_shared<OsmPathElement>(1, 9, 0, nullptr));
    OsmTrack leg;
    add(leg, 2, 0);
    add(leg, 3, 0);
    leg.buildMap();
    leg.registerDetourForId(idOf(1, 0), std::make_shared<OsmPathElement>(1, 8, 0, nullptr)); // known already
    leg.registerDetourForId(idOf(3, 0), std::make_shared<OsmPathElement>(3, 9, 0, nullptr));
    leg.registerDetourForId(idOf(6, 0), std::make_shared<OsmPathElement>(6, 9, 0, nullptr)); // not on the leg
    whole.appendLeg(leg);
    ASSERT_TRUE(whole.detourMap);
    EXPECT_EQ(whole.detourMap->size(), 2);
    EXPECT_EQ(whole.getFromDetourMap(idOf(1, 0))->element->ilat, 9);
    EXPECT_EQ(whole.getFromDetourMap(idOf(3, 0))->element->ilat, 9);
    EXPECT_EQ(whole.getFromDetourMap(idOf(6, 0)), nullptr);
}

TEST(OsmTrack, AddPointsOfGivesANodeSet) {
    OsmTrack leg;
    for (int i = 0; i < 3; ++i) add(leg, i, 7);
    OsmTrack reference;
    reference.addPointsOf(leg);
    ASSERT_EQ(reference.points.size(), 3u);
    EXPECT_EQ(reference.points[0]->ilon, 2); // reversed
    EXPECT_TRUE(reference.pointMap->contains(idOf(1, 7)));
    EXPECT_FALSE(reference.pointMap->contains(idOf(1, 8)));
}

TEST(OsmTrack, FormatLongs) {
    const std::int64_t values[] = {5, -3, 0};
    EXPECT_EQ(OsmTrack::formatLongs(values), "{5 -3 0 }");
    EXPECT_EQ(OsmTrack::formatLongs({}), "{}");
}

TEST(OsmTrack, Defaults) {
    OsmTrack track;
    EXPECT_EQ(track.name, "unset");
    EXPECT_FALSE(track.message);
    EXPECT_FALSE(track.messageList);
    EXPECT_FALSE(track.pointMap);
    EXPECT_FALSE(track.detourMap);
    EXPECT_EQ(track.cost, 0);
}

TEST(OsmPathElement, DistanceRoundsHalfUpAndIsAtLeastOne) {
    // 50 N: 1000 grid units of latitude are 111.2 m (kx, ky of the ruler's band).
    const OsmPathElement a(188000000, 140000000, 0, nullptr);
    const OsmPathElement same(188000000, 140000000, 0, nullptr);
    EXPECT_EQ(a.calcDistance(same), 1);
    const OsmPathElement north(188000000, 140001000, 0, nullptr);
    EXPECT_EQ(a.calcDistance(north), 111);
}

} // namespace
} // namespace ferrow::router
