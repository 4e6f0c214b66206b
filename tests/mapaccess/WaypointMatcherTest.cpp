#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/InputStream.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/OsmNodePairSet.h"
#include "mapaccess/WaypointMatcherImpl.h"
#include "testsupport/TempDirectory.h"

namespace ferrow::mapaccess {
namespace {

// 10.0 E, 47.52 N: the latitude band 1375, middle 47.55 degrees, where
// ky = (111.13209 - 0.56605 cos 95.1 + 0.0012 cos 190.2) / 1000 = 0.111181 m
// and kx = (111.41513 cos 47.55 - 0.09455 cos 142.65 + 0.00012 cos 237.75) / 1000
// = 0.0752742 m per grid unit.
constexpr std::int32_t LON0 = 190000000;
constexpr std::int32_t LAT0 = 137520000;
constexpr double KY = 0.111181;
constexpr double KX = 0.0752742;

struct Point {
    std::int32_t ilon;
    std::int32_t ilat;
};

MatchedWaypoint waypointAt(std::int32_t ilon, std::int32_t ilat, const char* name = nullptr) {
    MatchedWaypoint mwp;
    mwp.waypoint = std::make_shared<OsmNode>(ilon, ilat);
    if (name != nullptr) {
        mwp.name = name;
    }
    return mwp;
}

// Feeds one way to the matcher as tile decoding does.
void feedWay(WaypointMatcherImpl& matcher, const std::vector<Point>& points, bool isStartWay = true) {
    const Point& first = points.front();
    const Point& last = points.back();
    if (!matcher.start(first.ilon, first.ilat, last.ilon, last.ilat, isStartWay)) {
        return;
    }
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        matcher.transferNode(points[i].ilon, points[i].ilat);
    }
    matcher.end();
}

class WaypointMatcherTest : public ::testing::Test {
protected:
    WaypointMatcherImpl& matcher(double maxDistance = 250.0, const OsmNodePairSet* islands = nullptr) {
        pointers_.clear();
        for (MatchedWaypoint& mwp : waypoints) {
            pointers_.push_back(&mwp);
        }
        matcher_ = std::make_unique<WaypointMatcherImpl>(pointers_, maxDistance, islands);
        return *matcher_;
    }

    std::vector<MatchedWaypoint> waypoints;

private:
    std::vector<MatchedWaypoint*> pointers_;
    std::unique_ptr<WaypointMatcherImpl> matcher_;
};

TEST(BearingTest, RawGridDirectionsFromNorthClockwise) {
    EXPECT_EQ(WaypointMatcherImpl::bearing(0, 0, 0, 10), 0.0);
    EXPECT_EQ(WaypointMatcherImpl::bearing(0, 0, 10, 0), 90.0);
    EXPECT_EQ(WaypointMatcherImpl::bearing(0, 0, 0, -10), 180.0);
    EXPECT_EQ(WaypointMatcherImpl::bearing(0, 0, -10, 0), 270.0);
    // Grid units, not metres: one unit east and one north is 45 degrees.
    EXPECT_DOUBLE_EQ(WaypointMatcherImpl::bearing(5, 5, 6, 6), 45.0);
    EXPECT_DOUBLE_EQ(WaypointMatcherImpl::bearing(5, 5, 4, 6), 315.0);
}

TEST_F(WaypointMatcherTest, DirectionsPointToTheNextWaypointAndTheLastBack) {
    waypoints.push_back(waypointAt(LON0, LAT0));
    waypoints.push_back(waypointAt(LON0 + 1000, LAT0));
    waypoints.push_back(waypointAt(LON0 + 1000, LAT0 - 1000));
    waypoints[1].directionToNext = 12.5; // set by the caller: kept
    waypoints[2].directionToNext = 99.0; // the last one's is always recomputed
    matcher();
    EXPECT_EQ(waypoints[0].directionToNext, 90.0);
    EXPECT_EQ(waypoints[1].directionToNext, 12.5);
    EXPECT_EQ(waypoints[2].directionToNext, 0.0);
    for (const MatchedWaypoint& mwp : waypoints) {
        EXPECT_EQ(mwp.radius, 250.0);
    }

    waypoints.resize(1);
    waypoints[0].directionToNext = 45.0;
    matcher(-1000.0);
    EXPECT_EQ(waypoints[0].directionToNext, -1.0);
    EXPECT_EQ(waypoints[0].radius, 1000.0);
}

TEST_F(WaypointMatcherTest, BesideTheMiddleOfASegmentGivesTheFootOfThePerpendicular) {
    waypoints.push_back(waypointAt(LON0 + 4000, LAT0 + 1000, "from"));
    waypoints.push_back(waypointAt(LON0 + 100000, LAT0 + 1000));
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0, LAT0}, {LON0 + 10000, LAT0}});

    const MatchedWaypoint& mwp = waypoints[0];
    ASSERT_NE(mwp.crossPoint, nullptr);
    EXPECT_EQ(mwp.crossPoint->ilon, LON0 + 4000);
    EXPECT_EQ(mwp.crossPoint->ilat, LAT0);
    // 1000 grid units north of a west-east way.
    EXPECT_NEAR(mwp.radius, 1000 * KY, 0.0005);
    // The way runs east, as the route does: travel along it forwards.
    EXPECT_EQ(mwp.node1->ilon, LON0);
    EXPECT_EQ(mwp.node2->ilon, LON0 + 10000);
    EXPECT_EQ(mwp.directionDiff, 0.0);

    ASSERT_EQ(mwp.nearestWays.size(), 2U);
    const std::string crossSum = std::to_string(LAT0 + LON0 + 4000);
    EXPECT_EQ(mwp.nearestWays[0].name, "from_w_" + crossSum);
    EXPECT_EQ(mwp.nearestWays[0].directionDiff, 0.0);
    EXPECT_EQ(mwp.nearestWays[1].name, "from_w2_" + crossSum);
    EXPECT_EQ(mwp.nearestWays[1].directionDiff, 180.0);
    EXPECT_EQ(mwp.nearestWays[1].node1->ilon, LON0 + 10000);
    EXPECT_EQ(mwp.nearestWays[1].node2->ilon, LON0);
    EXPECT_EQ(mwp.nearestWays[1].radius, mwp.radius);
    EXPECT_EQ(mwp.nearestWays[1].directionToNext, 90.0);
    EXPECT_FALSE(mwp.hasUpdate);

    // The other waypoint is 6 km away.
    EXPECT_EQ(waypoints[1].crossPoint, nullptr);
    EXPECT_EQ(waypoints[1].radius, 250.0);
}

TEST_F(WaypointMatcherTest, BeyondAnEndGivesThatEnd) {
    waypoints.push_back(waypointAt(LON0 + 13000, LAT0 + 400));        // past the east end
    waypoints.push_back(waypointAt(LON0 - 2000, LAT0 - 300, "back")); // past the west end
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0, LAT0}, {LON0 + 10000, LAT0}});

    EXPECT_EQ(waypoints[0].crossPoint->ilon, LON0 + 10000);
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0);
    EXPECT_NEAR(waypoints[0].radius, std::hypot(3000 * KX, 400 * KY), 0.001);
    EXPECT_EQ(waypoints[1].crossPoint->ilon, LON0);
    EXPECT_EQ(waypoints[1].crossPoint->ilat, LAT0);
    EXPECT_NEAR(waypoints[1].radius, std::hypot(2000 * KX, 300 * KY), 0.001);
    // The route runs west: the first waypoint takes the way backwards, the
    // last one, which looks back east, forwards.
    EXPECT_EQ(waypoints[0].node1->ilon, LON0 + 10000);
    EXPECT_EQ(waypoints[0].node2->ilon, LON0);
    EXPECT_EQ(waypoints[1].node1->ilon, LON0);
    EXPECT_EQ(waypoints[1].node2->ilon, LON0 + 10000);
    EXPECT_EQ(waypoints[1].nearestWays[0].name, "back_w_" + std::to_string(LAT0 + LON0));
}

TEST_F(WaypointMatcherTest, OnAWayNodeGivesRadiusZero) {
    waypoints.push_back(waypointAt(LON0 + 3000, LAT0 + 2000));
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0, LAT0}, {LON0 + 3000, LAT0 + 2000}, {LON0 + 9000, LAT0 + 2500}});
    EXPECT_EQ(waypoints[0].radius, 0.0);
    EXPECT_EQ(waypoints[0].crossPoint->ilon, LON0 + 3000);
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 + 2000);
    // A single waypoint has no direction: -1 against 74.5 and 254.5 degrees.
    EXPECT_EQ(waypoints[0].directionToNext, -1.0);
    ASSERT_EQ(waypoints[0].nearestWays.size(), 2U);
    const double forward = WaypointMatcherImpl::bearing(LON0, LAT0, LON0 + 9000, LAT0 + 2500);
    EXPECT_DOUBLE_EQ(waypoints[0].nearestWays[0].directionDiff, forward + 1.0);
    EXPECT_DOUBLE_EQ(waypoints[0].nearestWays[1].directionDiff, 360.0 - (forward + 180.0 + 1.0));
}

TEST_F(WaypointMatcherTest, TheNearestSectionOfAWayWithIntermediatePointsWins) {
    // A way east, then north-east, then east again; the waypoint lies south
    // of the middle of the last section.
    waypoints.push_back(waypointAt(LON0 + 8000, LAT0 + 1500));
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0, LAT0}, {LON0 + 4000, LAT0}, {LON0 + 6000, LAT0 + 2000}, {LON0 + 10000, LAT0 + 2000}});
    EXPECT_EQ(waypoints[0].crossPoint->ilon, LON0 + 8000);
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 + 2000);
    EXPECT_NEAR(waypoints[0].radius, 500 * KY, 0.0005);
    // The candidates name the whole way's ends, not the section's.
    EXPECT_EQ(waypoints[0].node1->ilon, LON0);
    EXPECT_EQ(waypoints[0].node2->ilon, LON0 + 10000);
}

TEST_F(WaypointMatcherTest, ANearerWayReplacesTheMatchAndAFartherOneIsIgnored) {
    waypoints.push_back(waypointAt(LON0, LAT0));
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0 - 5000, LAT0 + 1500}, {LON0 + 5000, LAT0 + 1500}}); // 167 m
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 + 1500);
    feedWay(m, {{LON0 - 5000, LAT0 - 500}, {LON0 + 5000, LAT0 - 500}}); // 56 m
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 - 500);
    feedWay(m, {{LON0 - 5000, LAT0 + 900}, {LON0 + 5000, LAT0 + 900}}); // 100 m: too far now
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 - 500);
    EXPECT_NEAR(waypoints[0].radius, 500 * KY, 0.0005);
    ASSERT_EQ(waypoints[0].nearestWays.size(), 4U);
    EXPECT_EQ(waypoints[0].nearestWays[0].crossPoint->ilat, LAT0 - 500);
    EXPECT_EQ(waypoints[0].nearestWays[1].crossPoint->ilat, LAT0 - 500);
    EXPECT_EQ(waypoints[0].nearestWays[2].crossPoint->ilat, LAT0 + 1500);
}

TEST_F(WaypointMatcherTest, EqualDistancesAreOrderedByDirectionAndAtMostFiveAreKept) {
    waypoints.push_back(waypointAt(LON0, LAT0));
    waypoints.push_back(waypointAt(LON0 + 100000, LAT0)); // due east
    WaypointMatcherImpl& m = matcher();
    // Three ways 1000 units away: north (eastwards), south (westwards), north again.
    feedWay(m, {{LON0 - 5000, LAT0 + 1000}, {LON0 + 5000, LAT0 + 1000}});
    feedWay(m, {{LON0 + 5000, LAT0 - 1000}, {LON0 - 5000, LAT0 - 1000}});

    const std::vector<MatchedWaypoint>& ways = waypoints[0].nearestWays;
    ASSERT_EQ(ways.size(), 4U);
    // Eastward first; of equal keys the one added earlier.
    EXPECT_EQ(ways[0].name, "null_w_" + std::to_string(LON0 + LAT0 + 1000));
    EXPECT_EQ(ways[1].name, "null_w2_" + std::to_string(LON0 + LAT0 - 1000));
    EXPECT_EQ(ways[2].name, "null_w2_" + std::to_string(LON0 + LAT0 + 1000));
    EXPECT_EQ(ways[3].name, "null_w_" + std::to_string(LON0 + LAT0 - 1000));
    EXPECT_EQ(ways[0].directionDiff, 0.0);
    EXPECT_EQ(ways[1].directionDiff, 0.0);
    EXPECT_EQ(ways[2].directionDiff, 180.0);
    EXPECT_EQ(ways[3].directionDiff, 180.0);
    // The waypoint follows the best candidate, not the last way seen.
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 + 1000);
    EXPECT_EQ(waypoints[0].node1->ilon, LON0 - 5000);

    feedWay(m, {{LON0 - 4000, LAT0 + 1000}, {LON0 + 6000, LAT0 + 1000}});
    ASSERT_EQ(ways.size(), 5U);
    EXPECT_EQ(ways[2].name, "null_w_" + std::to_string(LON0 + LAT0 + 1000));
    EXPECT_EQ(ways[2].node1->ilon, LON0 - 4000);
    EXPECT_EQ(ways[4].directionDiff, 180.0);
    EXPECT_EQ(ways[4].node1->ilon, LON0 + 5000); // the new way's westward one did not make it
}

TEST_F(WaypointMatcherTest, NoStartWayIsNotMatchedToTheFirstWaypoint) {
    waypoints.push_back(waypointAt(LON0, LAT0 + 100));
    waypoints.push_back(waypointAt(LON0 + 2000, LAT0 + 100));
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0 - 5000, LAT0}, {LON0 + 5000, LAT0}}, false);
    EXPECT_EQ(waypoints[0].crossPoint, nullptr);
    ASSERT_NE(waypoints[1].crossPoint, nullptr);
    EXPECT_EQ(waypoints[1].crossPoint->ilon, LON0 + 2000);
}

TEST_F(WaypointMatcherTest, WaysBetweenIslandPairsAreIgnored) {
    OsmNodePairSet islands(500);
    islands.addTempPair(OsmPos::idFromPos(LON0 + 5000, LAT0), OsmPos::idFromPos(LON0 - 5000, LAT0));
    waypoints.push_back(waypointAt(LON0, LAT0 + 100));
    WaypointMatcherImpl& m = matcher(250.0, &islands);
    // Staged pairs do not count yet.
    EXPECT_TRUE(m.start(LON0 - 5000, LAT0, LON0 + 5000, LAT0, true));
    islands.freezeTempPairs();
    EXPECT_FALSE(m.start(LON0 - 5000, LAT0, LON0 + 5000, LAT0, true));
    EXPECT_FALSE(m.start(LON0 + 5000, LAT0, LON0 - 5000, LAT0, true));
    EXPECT_TRUE(m.start(LON0 - 5000, LAT0, LON0 + 5001, LAT0, true));
    m.end();
    EXPECT_NE(waypoints[0].crossPoint, nullptr);
}

TEST_F(WaypointMatcherTest, AStraightLegStartNeedsNoWay) {
    waypoints.push_back(waypointAt(LON0 + 50000, LAT0 + 50000));
    waypoints.push_back(waypointAt(LON0, LAT0 + 100));
    waypoints[0].kind = 3;
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0 - 5000, LAT0}, {LON0 + 5000, LAT0}});
    ASSERT_NE(waypoints[0].crossPoint, nullptr);
    EXPECT_EQ(waypoints[0].crossPoint->ilon, LON0 + 50000);
    EXPECT_EQ(waypoints[0].crossPoint->ilat, LAT0 + 50000);
    EXPECT_EQ(waypoints[0].radius, 250.0);
    ASSERT_EQ(waypoints[0].nearestWays.size(), 2U);
    // Travel goes south-west to the next waypoint: the way's westward direction fits.
    EXPECT_EQ(waypoints[0].node1->ilon, LON0 + 5000);
    // The second waypoint, after a straight leg start, is matched as usual.
    EXPECT_EQ(waypoints[1].crossPoint->ilat, LAT0);
}

TEST_F(WaypointMatcherTest, AFarWaypointStaysUnmatched) {
    waypoints.push_back(waypointAt(LON0, LAT0 + 2300)); // 255.7 m from the way
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0 - 5000, LAT0}, {LON0 + 5000, LAT0}});
    EXPECT_EQ(waypoints[0].crossPoint, nullptr);
    EXPECT_TRUE(waypoints[0].nearestWays.empty());
    EXPECT_FALSE(m.hasMatch(LON0, LAT0 + 2300));

    feedWay(m, {{LON0 - 5000, LAT0 + 100}, {LON0 + 5000, LAT0 + 100}}); // 244.6 m
    EXPECT_TRUE(m.hasMatch(LON0, LAT0 + 2300));
    EXPECT_FALSE(m.hasMatch(LON0 + 1, LAT0 + 2300));
}

TEST_F(WaypointMatcherTest, ZeroLengthSegmentsAreSkipped) {
    waypoints.push_back(waypointAt(LON0, LAT0));
    WaypointMatcherImpl& m = matcher();
    feedWay(m, {{LON0, LAT0}, {LON0, LAT0}});
    EXPECT_EQ(waypoints[0].crossPoint, nullptr);
}

// ---- the binary record ----

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

MatchedWaypoint readRecord(const std::string& path) {
    jcompat::DataInputStream in{jcompat::BufferedInputStream{jcompat::FileInputStream{jcompat::File(path)}}};
    return MatchedWaypoint::readFromStream(in);
}

TEST(MatchedWaypointRecordTest, ReadsPositionsRadiusKindAndName) {
    testsupport::TempDirectory dir;
    const std::vector<std::uint8_t> record = {
        0x08, 0x32, 0x63, 0x80, 0x0B, 0x53, 0x2B, 0x80, // node 1: ilat 137520000, ilon 190000000
        0x08, 0x32, 0x63, 0x81, 0x0B, 0x53, 0x2B, 0x81, // node 2
        0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, // cross point
        0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, // waypoint: -1, 2147483647
        0x40, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // radius 3.125
        0x02,                                           // kind
        0x00, 0x04, 'v',  'i',  0xC3, 0xA4,             // "viä"
        0x99,                                           // not read
    };
    writeBytes(dir.file("wp.dat"), record);
    const MatchedWaypoint mwp = readRecord(dir.file("wp.dat"));
    EXPECT_EQ(mwp.node1->ilat, 137520000);
    EXPECT_EQ(mwp.node1->ilon, 190000000);
    EXPECT_EQ(mwp.node2->ilat, 137520001);
    EXPECT_EQ(mwp.node2->ilon, 190000001);
    EXPECT_EQ(mwp.crossPoint->ilat, 2);
    EXPECT_EQ(mwp.crossPoint->ilon, 3);
    EXPECT_EQ(mwp.waypoint->ilat, -1);
    EXPECT_EQ(mwp.waypoint->ilon, 2147483647);
    EXPECT_EQ(mwp.waypoint->selev, OsmNode::NO_ELEVATION);
    EXPECT_EQ(mwp.radius, 3.125);
    EXPECT_EQ(mwp.kind, 2);
    EXPECT_EQ(mwp.name, "vi\xC3\xA4");
    EXPECT_EQ(mwp.directionToNext, -1.0);
    EXPECT_EQ(mwp.directionDiff, 361.0);
}

TEST(MatchedWaypointRecordTest, ShortOrMalformedRecordsFail) {
    testsupport::TempDirectory dir;
    std::vector<std::uint8_t> record(41, 0);
    record.push_back(0x00);
    writeBytes(dir.file("short.dat"), record); // the name length is cut
    EXPECT_THROW(readRecord(dir.file("short.dat")), jcompat::EOFException);

    record.push_back(0x03);
    record.push_back('a');
    writeBytes(dir.file("name.dat"), record); // a name of 3 bytes holds 1
    EXPECT_THROW(readRecord(dir.file("name.dat")), jcompat::EOFException);

    record.resize(41);
    record.push_back(0xFF);
    record.push_back(0xFE);
    writeBytes(dir.file("negative.dat"), record);
    try {
        readRecord(dir.file("negative.dat"));
        FAIL() << "a negative name length was accepted";
    } catch (const jcompat::IOException& e) {
        EXPECT_EQ(e.getMessage(), "matched waypoint record with negative name length -2");
    }

    record.resize(41);
    record.push_back(0x00);
    record.push_back(0x00);
    writeBytes(dir.file("empty.dat"), record);
    EXPECT_EQ(readRecord(dir.file("empty.dat")).name, "");
}

} // namespace
} // namespace ferrow::mapaccess
