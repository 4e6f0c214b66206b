#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "PlainDijkstra.h"
#include "RealNetwork.h"

namespace ferrow::realdata {
namespace {

// A grid point given in micro-degrees east and north of (0, 0).
Position at(std::int32_t east, std::int32_t north) { return positionOf(180000000 + east, 90000000 + north); }

std::vector<Way> waysOf(const std::string& text) {
    std::istringstream in(text);
    return readWays(in);
}

TEST(PlainDijkstraTest, WalkableAsTheShortestWalkReadsTheTags) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"highway=footway", true},
        {"highway=platform", false},
        {"highway=motorway\tfoot=yes", false},
        {"highway=trunk", false},
        {"highway=trunk\tsidewalk=both", true},
        {"highway=trunk_link\tfoot=designated", true},
        {"highway=residential\tfoot=no\tsidewalk=both", false},
        {"highway=residential\taccess=no\tfoot=official", true},
        {"highway=residential\taccess=private", false},
        {"highway=residential\taccess=permissive", true},
        {"highway=service\tmotorroad=yes", false},
        {"highway=service\tmotorroad=yes\tsidewalk=right", true},
        {"highway=path\tfoot=no\tfoot=yes", true},
        {"name=x", false},
    };
    for (const auto& [tags, expected] : cases) {
        const std::vector<Way> ways = waysOf("1\t0,0;0.001,0\t" + tags + "\n");
        EXPECT_EQ(walkable(ways.at(0)), expected) << tags;
    }
}

// Near (0, 0) 1000 micro-degrees are 111.32 m east and 110.57 m north.
class PlainDijkstraRoutes : public ::testing::Test {
protected:
    PlainDijkstraRoutes()
        : graph_(walkableGraph(waysOf(
              // two sections of 55.28 m: 55 + 55
              "1\t0,0;0,0.0005;0,0.001\thighway=footway\n"
              "2\t0,0.001;0.001,0.001\thighway=footway\n"
              // the short cut (157 m) is closed to walkers
              "3\t0,0;0.001,0.001\thighway=motorway\n"
              "4\t0.001,0.001;0.002,0.001\thighway=residential\toneway=yes\n"
              "5\t0.1,0.1;0.101,0.1\thighway=footway\n"))),
          dijkstra_(graph_) {}

    Dijkstra::Result route(Position from, Position to) {
        return dijkstra_.route(graph_.nodeAt.at(from), graph_.nodeAt.at(to));
    }

    Graph graph_;
    Dijkstra dijkstra_;
};

TEST_F(PlainDijkstraRoutes, SectionsRoundedOneByOneUnwalkableWaysLeftOutOneWayStreetsWalkedBothWays) {
    EXPECT_EQ(graph_.nodeCount(), 6u);
    EXPECT_EQ(graph_.arcs.size(), 8u);
    EXPECT_FALSE(graph_.nodeAt.contains(at(0, 500)));

    const Dijkstra::Result north = route(at(0, 0), at(1000, 1000));
    EXPECT_EQ(north.metres, 110u + 111u);
    EXPECT_EQ(north.settled, 3u);

    const Dijkstra::Result back = route(at(2000, 1000), at(0, 0));
    EXPECT_EQ(back.metres, 111u + 111u + 110u);
    EXPECT_EQ(back.settled, 4u);

    const Dijkstra::Result here = route(at(0, 1000), at(0, 1000));
    EXPECT_EQ(here.metres, 0u);
    EXPECT_EQ(here.settled, 1u);
}

TEST_F(PlainDijkstraRoutes, AnIslandIsNotReachedAndLeavesNothingBehindForTheNextRoute) {
    const Dijkstra::Result island = route(at(0, 0), at(100000, 100000));
    EXPECT_EQ(island.metres, Dijkstra::kUnreached);
    EXPECT_EQ(island.settled, 4u);

    EXPECT_EQ(route(at(101000, 100000), at(100000, 100000)).metres, 111u);
    EXPECT_EQ(route(at(0, 0), at(1000, 1000)).metres, 221u);
    EXPECT_EQ(route(at(1000, 1000), at(0, 0)).metres, 221u);
}

} // namespace
} // namespace ferrow::realdata
