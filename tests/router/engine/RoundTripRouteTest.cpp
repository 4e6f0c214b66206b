// Round trips: the via points on the half circle, the direction chosen at
// random or from the ways around the start, the area-info cache file, and
// whole round-trip runs with their failures.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "router/area/AreaReader.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::gridLat;
using testsupport::gridLon;
using testsupport::NodeRef;
using testsupport::TestNetwork;

// The first direction draw after seeding, as the engine makes it.
double firstDraw(std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    return static_cast<double>(generator() >> 11) * 0x1.0p-53;
}

TEST(RoundTripPoints, HalfCircleAroundTheStart) {
    // At 50.5 N a grid unit is 0.0708769 m east and 0.1112400 m north. On the
    // bearing -54 a kilometre goes 809.0 m west (11414 units) and 587.8 m
    // north (5284 units); on -18 309.0 m west and 951.1 m north.
    OsmNodeNamedList waypoints{std::make_shared<OsmNodeNamed>(gridLon(8.0), gridLat(50.5), "from")};
    RoutingEngine::buildPointsFromCircle(waypoints, 0.0, 1000.0, 5);
    const std::vector<std::string> names = {"from", "rt1", "rt2", "rt3", "rt4", "to_rt"};
    const std::int32_t lons[] = {188000000, 187988586, 187995640, 188004360, 188011414, 188000000};
    const std::int32_t lats[] = {140500000, 140505284, 140508550, 140508550, 140505284, 140500000};
    ASSERT_EQ(waypoints.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(waypoints[i]->name, names[i]);
        EXPECT_EQ(waypoints[i]->ilon, lons[i]) << names[i];
        EXPECT_EQ(waypoints[i]->ilat, lats[i]) << names[i];
        EXPECT_EQ(waypoints[i]->selev, mapaccess::OsmNode::NO_ELEVATION);
        EXPECT_EQ(waypoints[i]->waypointKind, OsmNodeNamed::KIND_ORDINARY);
    }

    OsmNodeNamedList single{waypoints[0]};
    RoutingEngine::buildPointsFromCircle(single, 0.0, 1000.0, 1);
    ASSERT_EQ(single.size(), 2u);
    EXPECT_EQ(single[1]->name, "to_rt");
}

TEST(RoundTripPoints, ANegativeRadiusMirrorsTheCircle) {
    const auto circle = [](double direction, double radius) {
        OsmNodeNamedList waypoints{std::make_shared<OsmNodeNamed>(gridLon(8.0), gridLat(50.5), "from")};
        RoutingEngine::buildPointsFromCircle(waypoints, direction, radius, 5);
        std::vector<std::pair<std::int32_t, std::int32_t>> points;
        for (const auto& point : waypoints) points.emplace_back(point->ilon, point->ilat);
        return points;
    };
    EXPECT_EQ(circle(180.0, -200.0), circle(0.0, 200.0));
    EXPECT_EQ(circle(270.0, -1500.0), circle(90.0, 1500.0));
}

TEST(RoundTripPoints, PointsBeyondThePolesFail) {
    // 587.8 m north of 89.9995 N lies past the grid's last latitude.
    OsmNodeNamedList waypoints{std::make_shared<OsmNodeNamed>(gridLon(8.0), gridLat(89.9995), "from")};
    try {
        RoutingEngine::buildPointsFromCircle(waypoints, 0.0, 1000.0, 5);
        FAIL() << "no failure";
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "round trip point rt1 lies outside the world");
    }
}

// Ways around the start S (8.00625 E, 50.50625 N, the middle of a tile).
// With a round-trip radius of 300 m the sector corners lie 450 m away, at
// 4489 grid units east or west and 2860 north or south; every way lies in
// S's tile, the only one the scan reads. A way counts at each of its nodes
// but its last (whose link is only the way's reverse record):
//   east:  a street E1 - E2 - E3, at 120, 160 and 120 m: 2 ways, 1 within 50 m;
//   south: a track S1 - S2 at 95 m: 1 way, within 50 m;
//   west:  the start street P1 - P2 at 100 m (P1 counts, in the west), and a
//          river path W1 - W2 at 100 m: 2 ways, both within 50 m, 1 river;
//   north: a forest track N1 - N2 - N3 at 180 m: 2 ways, both forest.
// S is matched on the start street, so the start elevation is 100 m.
// Ranked by elevation: south (100%) before west (100%); by forest: north;
// by river: west.
class AreaScan : public ::testing::Test {
protected:
    void SetUp() override {
        TestNetwork net;
        const auto at = [&net](double lon, double lat, double elevation) -> NodeRef {
            return net.node(lon, lat).elevation(elevation);
        };
        net.way("highway=residential", {at(8.0055, 50.5062, 100), at(8.0070, 50.5062, 100)});
        net.way("highway=residential", {at(8.0080, 50.5062, 120), at(8.0090, 50.5062, 160), at(8.0100, 50.5062, 120)});
        net.way("highway=track", {at(8.00625, 50.5050, 95), at(8.00625, 50.5040, 95)});
        net.way("highway=footway estimated_river_class=3", {at(8.0045, 50.5060, 100), at(8.0035, 50.5060, 100)});
        net.way("highway=track estimated_forest_class=4",
                {at(8.00625, 50.5075, 180), at(8.00625, 50.5085, 180), at(8.0070, 50.5085, 180)});
        testsupport::SegmentWriter().write(net, segments.path());
        profiles.write("dummy.vpf", readRepositoryFile("profiles/dummy.vpf"));
    }

    // An engine for a round trip from S with the profile's global section.
    struct RoundTrip {
        std::unique_ptr<RoutingContext> rc = std::make_unique<RoutingContext>();
        std::unique_ptr<RoutingEngine> engine;
    };
    RoundTrip roundTrip(const std::string& globals, const std::string& segmentDir = "") {
        RoundTrip r;
        // A file of its own each time: a rewritten one may keep its
        // last-modified millisecond, and the profile cache its old contents.
        r.rc->profilePath = profiles.write("test" + std::to_string(++profileCount) + ".vpf", testProfile(globals));
        r.rc->memoryClass = 128;
        OsmNodeNamedList waypoints{std::make_shared<OsmNodeNamed>(start.ilon, start.ilat, "from")};
        r.engine = std::make_unique<RoutingEngine>(jcompat::File(segmentDir.empty() ? segments.path() : segmentDir),
                                                   waypoints, *r.rc, 4);
        return r;
    }

    std::int32_t direction(const std::string& globals, std::uint64_t seed) {
        RoundTrip r = roundTrip(globals);
        RoutingEngine::seedRoundTripRandom(seed);
        return r.engine->getRandomDirectionFromData(r.engine->getWaypoints()[0], 300.0);
    }

    // An area-info cache file: the matched waypoint's record, then the
    // sectors (direction, start elevation, ways, forest, river, within 50 m).
    std::string writeCacheFile(std::int32_t dlon, std::int32_t dlat, double radius,
                               const std::vector<std::vector<std::int32_t>>& sectors) {
        std::string bytes;
        const auto put = [&bytes](std::int64_t value, int size) {
            for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(value >> shift));
        };
        for (int i = 0; i < 4; ++i) {
            put(start.ilat + dlat, 4);
            put(start.ilon + dlon, 4);
        }
        put(std::bit_cast<std::int64_t>(radius), 8);
        put(1, 1);
        put(4, 2);
        bytes += "info";
        for (const std::vector<std::int32_t>& sector : sectors) {
            put(sector[0], 4);
            put(std::bit_cast<std::int64_t>(100.0), 8);
            for (std::size_t k = 1; k < sector.size(); ++k) put(sector[k], 4);
        }
        const std::string path = profiles.path() + "/area.dat";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    testsupport::TempDirectory segments;
    ProfileDir profiles;
    int profileCount = 0;
    const mapaccess::OsmNode start{gridLon(8.00625), gridLat(50.50625)};
};

TEST_F(AreaScan, SectorsCountTheirWays) {
    RoutingContext rc;
    rc.profilePath = profiles.path() + "/dummy.vpf";
    ProfileCache::parseProfile(rc);
    OsmNogoPolygon rect(true);
    const std::int32_t east = 188010739, west = 188001761, north = 140509110, south = 140503390;
    rect.addVertex(east, north);
    rect.addVertex(east, south);
    rect.addVertex(west, south);
    rect.addVertex(west, north);
    const std::int32_t cornerLon[] = {east, east, west, west, east};
    const std::int32_t cornerLat[] = {north, south, south, north, north};
    std::vector<AreaInfo> sectors;
    for (int k = 0; k < 4; ++k) {
        AreaInfo& sector = sectors.emplace_back(90 * (k + 1));
        sector.startElevation = 100.0;
        sector.greenKeyIndex = rc.expctxWay->getLookupKey("estimated_forest_class");
        sector.riverKeyIndex = rc.expctxWay->getLookupKey("estimated_river_class");
        sector.polygon->addVertex(start.ilon, start.ilat);
        sector.polygon->addVertex(cornerLon[k], cornerLat[k]);
        sector.polygon->addVertex(cornerLon[k + 1], cornerLat[k + 1]);
    }
    OsmNodeNamed startPoint(start.ilon, start.ilat, "from");
    AreaReader::getDirectAllData(jcompat::File(segments.path()), rc, startPoint, 1, *rc.expctxWay, rect, sectors);
    ProfileCache::releaseProfile(rc);

    ASSERT_EQ(sectors.size(), 4u);
    EXPECT_EQ(sectors[0].toString(),
              "Area 90 100.0m ways 2\nArea ways <50m  1 50%\nArea ways green 0 0%\n"
              "Area ways river 0 0%");
    const std::int32_t expected[4][4] = {{2, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 1, 2}, {2, 2, 0, 0}};
    for (int k = 0; k < 4; ++k) {
        const AreaInfo& s = sectors[static_cast<std::size_t>(k)];
        EXPECT_EQ((std::vector<std::int32_t>{s.ways, s.greenWays, s.riverWays, s.elev50}),
                  (std::vector<std::int32_t>(std::begin(expected[k]), std::end(expected[k]))))
            << "sector " << s.direction;
    }
    EXPECT_EQ(sectors[2].getRiver(), 50);
}

TEST_F(AreaScan, DirectionTurnsTowardsTheBestSector) {
    const std::int32_t offset = static_cast<std::int32_t>(firstDraw(7) * 60.0);
    EXPECT_EQ(direction("assign consider_forest 1", 7), 330 + offset);
    EXPECT_EQ(direction("assign consider_river 1", 7), 240 + offset);
    EXPECT_EQ(direction("assign consider_elevation 1", 7), 150 + offset);
    EXPECT_EQ(direction("assign consider_forest 1\nassign consider_elevation 1", 7), 150 + offset);
}

TEST_F(AreaScan, DirectionAtRandomWithoutScan) {
    // Without the flags nothing is read: neither the scan's profile nor the map.
    RoundTrip r = roundTrip("assign consider_forest 2", profiles.path());
    std::remove((profiles.path() + "/dummy.vpf").c_str());
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        RoutingEngine::seedRoundTripRandom(seed);
        EXPECT_EQ(r.engine->getRandomDirectionFromData(r.engine->getWaypoints()[0], 300.0),
                  static_cast<std::int32_t>(firstDraw(seed) * 360.0));
    }
    ProfileCache::releaseProfile(*r.rc);
}

TEST_F(AreaScan, CacheFileStandsInForTheScan) {
    const std::int32_t offset = static_cast<std::int32_t>(firstDraw(11) * 60.0);
    const std::vector<std::vector<std::int32_t>> southIsGreen = {
        {90, 10, 1, 0, 0}, {180, 10, 5, 0, 0}, {270, 10, 5, 0, 0}, {360, 10, 2, 0, 0}};
    const auto withCache = [&](const std::string& path) {
        RoundTrip r = roundTrip("assign consider_forest 1");
        r.rc->areaInfoCache = path;
        RoutingEngine::seedRoundTripRandom(11);
        return r.engine->getRandomDirectionFromData(r.engine->getWaypoints()[0], 300.0);
    };
    // The file's sectors, in file order among equals: 180 before 270.
    EXPECT_EQ(withCache(writeCacheFile(600, 0, 450.0, southIsGreen)), 150 + offset);
    EXPECT_EQ(withCache(writeCacheFile(0, 0, 950.0, southIsGreen)), 150 + offset);
    // Ignored: the scan finds the forest in the north.
    EXPECT_EQ(withCache(writeCacheFile(600, 600, 450.0, southIsGreen)), 330 + offset);
    EXPECT_EQ(withCache(writeCacheFile(0, 0, 951.0, southIsGreen)), 330 + offset);
    EXPECT_EQ(withCache(writeCacheFile(0, 0, 450.0, {southIsGreen[0], southIsGreen[1]})), 330 + offset);
    EXPECT_EQ(withCache(profiles.path() + "/missing.dat"), 330 + offset);
}

TEST_F(AreaScan, RoundTripThroughTheGivenDirection) {
    RoundTrip r = roundTrip("");
    r.rc->startDirection = 0;
    r.rc->roundTripDistance = 300;
    r.engine->doRun(0);
    ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << *r.engine->getErrorMessage();
    std::vector<std::string> names;
    for (const auto& waypoint : r.engine->getFoundTrack().matchedWaypoints) names.push_back(*waypoint->name);
    EXPECT_EQ(names, (std::vector<std::string>{"from", "rt1", "rt2", "rt3", "rt4", "to_rt"}));
    EXPECT_EQ(r.rc->waypointCatchingRange, 250.0);
    EXPECT_EQ(r.rc->expctxWay, nullptr); // the profile went back to the cache
}

TEST_F(AreaScan, RoundTripFailures) {
    const auto failure = [&](const std::string& globals, const std::string& segmentDir,
                             std::optional<std::int32_t> distance) {
        RoundTrip r = roundTrip(globals, segmentDir);
        r.rc->roundTripDistance = distance;
        r.engine->doRun(0);
        EXPECT_EQ(r.rc->expctxWay, nullptr);
        return r.engine->getErrorMessage().value_or("<none>");
    };
    const std::string tooFar = "roundTripDistance must lie between -100000 and 100000 metres";
    EXPECT_EQ(failure("", "", std::numeric_limits<std::int32_t>::max()), tooFar);
    EXPECT_EQ(failure("", "", std::numeric_limits<std::int32_t>::min()), tooFar);
    EXPECT_EQ(failure("", "", -100001), tooFar);
    // The scan reads the segment directory only, not a secondary one.
    testsupport::TempDirectory primary;
    std::ofstream(primary.path() + "/storageconfig.txt") << "secondary_segment_dir=" << segments.path() << "\n";
    EXPECT_EQ(failure("assign consider_river 1", primary.path(), 300), "index: 0, size: 0");
    std::remove((profiles.path() + "/dummy.vpf").c_str());
    EXPECT_EQ(failure("assign consider_river 1", "", 300), "profile dummy.vpf does not exist");
}

} // namespace
} // namespace ferrow::router::testing
