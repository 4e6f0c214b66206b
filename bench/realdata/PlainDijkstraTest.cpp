#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "PlainDijkstra.h"
#include "RealNetwork.h"
#include "testsupport/TempDirectory.h"

namespace realdata {
namespace {

// A grid point given in micro-degrees east and north of (0, 0).
Position at(std::int32_t east, std::int32_t north) { return positionOf(180000000 + east, 90000000 + north); }

std::vector<Way> waysOf(const std::string& text) {
    const ferrow::testsupport::TempDirectory directory;
    const std::string path = directory.file("ways.tsv");
    std::ofstream(path) << text;
    return readWays(path);
}

std::vector<std::vector<Position>> pointsOf(const JunctionGraph& graph) {
    std::vector<std::vector<Position>> points;
    for (const Link& link : graph.links) {
        points.push_back(link.points);
    }
    return points;
}

TEST(RealNetworkTest, WayListReadToTheGridWithRepeatsMergedAndOnePointWaysLeftOut) {
    const std::vector<Way> ways = waysOf(
        "7\t0.000001,0.000002;0.0000014,0.0000024;0.000003,-0.000004\thighway=path\tname=a=b\n"
        "8\t0.5,0.5;0.5000004,0.5\thighway=path\n");
    ASSERT_EQ(ways.size(), 1u);
    EXPECT_EQ(ways[0].id, "7");
    EXPECT_EQ(ways[0].points, (std::vector<Position>{at(1, 2), at(3, -4)}));
    EXPECT_EQ(ways[0].tags, (std::vector<std::pair<std::string, std::string>>{{"highway", "path"}, {"name", "a=b"}}));
    EXPECT_THROW(waysOf("9\t0.1;0.2\thighway=path\n"), std::runtime_error);
    EXPECT_THROW(waysOf("9\t0.1,x;0.2,0.2\thighway=path\n"), std::runtime_error);
}

TEST(RealNetworkTest, WaysCutAtSharedPointsOneLinkPerPairAndLoopsSplit) {
    const JunctionGraph graph = junctionGraph(waysOf(
        // a: cut where b starts; c repeats a's first stretch straight and is dropped
        "a\t0,0;0.0001,0;0.0002,0\n"
        "b\t0.0001,0;0.0001,0.0001\n"
        "c\t0,0;0.0001,0\n"
        // d: a loop, split at its middle point and its second half again
        "d\t0,0.001;0.0001,0.001;0.0002,0.001;0.0002,0.0011;0,0.001\n"
        // e curved, f straight between the same two nodes: f's is kept, e split
        "e\t0,0.002;0.0001,0.0021;0.0002,0.002\n"
        "f\t0,0.002;0.0002,0.002\n"));
    EXPECT_EQ(pointsOf(graph), (std::vector<std::vector<Position>>{
                                   {at(0, 0), at(100, 0)},
                                   {at(100, 0), at(200, 0)},
                                   {at(100, 0), at(100, 100)},
                                   {at(0, 1000), at(100, 1000), at(200, 1000)},
                                   {at(200, 1000), at(200, 1100)},
                                   {at(200, 1100), at(0, 1000)},
                                   {at(0, 2000), at(100, 2100)},
                                   {at(100, 2100), at(200, 2000)},
                                   {at(0, 2000), at(200, 2000)},
                               }));
    EXPECT_EQ(graph.links[3].way, 3u);
    EXPECT_EQ(graph.links[8].way, 5u);
    EXPECT_EQ(graph.splitNodes, 3u);
    EXPECT_EQ(graph.droppedStretches, 1u);
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
} // namespace realdata
