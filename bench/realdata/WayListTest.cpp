#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "WayList.h"

namespace ferrow::realdata {
namespace {

using Tags = std::vector<std::pair<std::string, std::string>>;

std::vector<Way> read(const std::string& text) {
    std::istringstream in(text);
    return readWays(in);
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

} // namespace
} // namespace ferrow::realdata
