#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "RealNetwork.h"
#include "testsupport/TempDirectory.h"

namespace ferrow::realdata {
namespace {

using Tags = std::vector<std::pair<std::string, std::string>>;

std::vector<Way> read(const std::string& text) {
    std::istringstream in(text);
    return readWays(in);
}

// A grid point given in micro-degrees east and north of (0, 0).
Position at(std::int32_t east, std::int32_t north) { return positionOf(180000000 + east, 90000000 + north); }

std::vector<std::vector<Position>> pointsOf(const JunctionGraph& graph) {
    std::vector<std::vector<Position>> points;
    for (const Link& link : graph.links) {
        points.push_back(link.points);
    }
    return points;
}

std::string readError(const std::string& text) {
    try {
        read(text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(WayList, ReadsIdsPointsOnTheGridAndTags) {
    const std::vector<Way> ways = read(
        "17\t11.5,57.7;11.501,57.7005\thighway=residential\tname=a=b\n"
        "18\t-0.25,-33.5;-0.2500004,-33.5000004;-0.2,-33.5\thighway=path\n");
    ASSERT_EQ(ways.size(), 2u);
    EXPECT_EQ(ways[0].id, "17");
    EXPECT_EQ(ways[0].points,
              (std::vector<Position>{positionOf(191500000, 147700000), positionOf(191501000, 147700500)}));
    EXPECT_EQ(ways[0].tags, (Tags{{"highway", "residential"}, {"name", "a=b"}}));
    // The second point rounds to the first one's grid position and is left out.
    EXPECT_EQ(ways[1].points,
              (std::vector<Position>{positionOf(179750000, 56500000), positionOf(179800000, 56500000)}));
    EXPECT_EQ(ilonOf(ways[1].points[0]), 179750000);
    EXPECT_EQ(ilatOf(ways[1].points[0]), 56500000);
}

TEST(WayList, WindowsLineEndingsReadAsUnixOnes) {
    const std::string unix =
        "1\t11.5,57.7;11.51,57.7\thighway=track\ttracktype=grade2\n"
        "2\t11.51,57.7;11.52,57.71\n"
        "3\t11.52,57.71;11.53,57.71\tsurface=gravel";
    std::string windows;
    for (char c : unix) {
        windows += c == '\n' ? "\r\n" : std::string(1, c);
    }
    const std::vector<Way> fromUnix = read(unix);
    const std::vector<Way> fromWindows = read(windows + "\r\n");
    ASSERT_EQ(fromWindows.size(), 3u);
    EXPECT_EQ(fromWindows[0].tags, (Tags{{"highway", "track"}, {"tracktype", "grade2"}}));
    EXPECT_EQ(fromWindows[1].points.back(), positionOf(191520000, 147710000));
    EXPECT_EQ(fromWindows[2].tags, (Tags{{"surface", "gravel"}}));
    for (std::size_t i = 0; i < fromUnix.size(); ++i) {
        EXPECT_EQ(fromWindows[i].id, fromUnix[i].id);
        EXPECT_EQ(fromWindows[i].points, fromUnix[i].points);
        EXPECT_EQ(fromWindows[i].tags, fromUnix[i].tags);
    }
}

TEST(WayList, WaysOfOnePointAreLeftOut) {
    const std::vector<Way> ways = read(
        "1\t11.5,57.7\thighway=path\n"
        "2\t11.5,57.7;11.5000003,57.7000002\n"
        "3\t11.5,57.7;11.5,57.8\n");
    ASSERT_EQ(ways.size(), 1u);
    EXPECT_EQ(ways[0].id, "3");
}

TEST(WayList, LinesThatDoNotParseAreNamed) {
    EXPECT_EQ(readError("1\t11.5,57.7;11.5,57.8\n\n"), "bad way line: ");
    EXPECT_EQ(readError("4 11.5,57.7;11.5,57.8\r\n"), "bad way line: 4 11.5,57.7;11.5,57.8");
    EXPECT_EQ(readError("5\t11.5,57.7;11.5\n"), "bad point in way 5");
    EXPECT_EQ(readError("6\t11.5,57.7;11.5,north\n"), "bad coordinate: north");
    EXPECT_EQ(readError("7\t11.5,57.7;11.5,57.8\thighway\n"), "bad tag in way 7");
    try {
        readWays(std::string("/nonexistent/ways.tsv"));
        ADD_FAILURE() << "a missing file read";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "cannot read /nonexistent/ways.tsv");
    }
}

TEST(WayList, AFileIsReadByItsPath) {
    const testsupport::TempDirectory directory;
    const std::string path = directory.file("ways.tsv");
    std::ofstream(path, std::ios::binary)
        << "7\t0.000001,0.000002;0.0000014,0.0000024;0.000003,-0.000004\thighway=path\tname=a=b\r\n"
           "8\t0.5,0.5;0.5000004,0.5\thighway=path\r\n";
    const std::vector<Way> ways = readWays(path);
    ASSERT_EQ(ways.size(), 1u);
    EXPECT_EQ(ways[0].id, "7");
    EXPECT_EQ(ways[0].points, (std::vector<Position>{at(1, 2), at(3, -4)}));
    EXPECT_EQ(ways[0].tags, (Tags{{"highway", "path"}, {"name", "a=b"}}));
}

TEST(JunctionGraph, WaysCutAtSharedPointsOneLinkPerPairAndLoopsSplit) {
    const JunctionGraph graph = junctionGraph(read(
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

} // namespace
} // namespace ferrow::realdata
