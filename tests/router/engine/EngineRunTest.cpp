// Whole engine runs over small written networks: modes, alternatives,
// waypoints in no-go areas, islands, straight-line legs, far waypoints,
// point information, and how failures become the run's error message.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "router/engine/RoutingParamCollector.h"
#include "testsupport/OddSites.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::gridLat;
using testsupport::gridLon;
using testsupport::NodeRef;
using testsupport::SegmentFileOptions;
using testsupport::SegmentWriter;
using testsupport::TestNetwork;

// One engine run with its own routing context, as the service makes them.
struct EngineRun {
    std::unique_ptr<RoutingContext> rc;
    std::unique_ptr<RoutingEngine> engine;

    const OsmTrack& track() const { return engine->getFoundTrack(); }
    std::string error() const { return engine->getErrorMessage().value_or("<none>"); }
    std::vector<std::string> matchedNames() const {
        std::vector<std::string> names;
        for (const auto& waypoint : track().matchedWaypoints) names.push_back(waypoint->name.value_or("null"));
        return names;
    }
    std::int32_t maxLat() const {
        std::int32_t lat = 0;
        for (const auto& point : track().points) lat = std::max(lat, point->ilat);
        return lat;
    }
    std::int32_t minLat() const {
        std::int32_t lat = INT32_MAX;
        for (const auto& point : track().points) lat = std::min(lat, point->ilat);
        return lat;
    }
};

using Configure = std::function<void(RoutingContext&, OsmNodeNamedList&)>;

// Networks around 8 E, 50.5 N, inside one segment file: 0.001 degrees of
// latitude are about 111 m, 0.001 of longitude about 71 m.
class EngineRuns : public ::testing::Test {
protected:
    void write(const TestNetwork& network, const SegmentWriter& writer = SegmentWriter()) {
        writer.write(network, segments.path());
    }

    EngineRun run(const std::string& lonlats, std::int32_t mode = 0, const std::string& globals = "",
                  const Configure& configure = nullptr, const std::string& profileName = "test.vpf") {
        EngineRun r;
        r.rc = std::make_unique<RoutingContext>();
        r.rc->profilePath = profiles.write(profileName, testProfile(globals));
        r.rc->memoryClass = 128;
        OsmNodeNamedList waypoints = RoutingParamCollector().getWayPointList(&lonlats);
        if (configure) configure(*r.rc, waypoints);
        r.engine = std::make_unique<RoutingEngine>(jcompat::File(segments.path()), waypoints, *r.rc, mode);
        r.engine->doRun(60000);
        return r;
    }

    testsupport::TempDirectory segments;
    ProfileDir profiles;
};

// A street W - A ... C - E - F with four ways from A to C: a track straight
// across (cost 3 per metre) and residential streets (2 per metre) 111 m
// north, 167 m south and 222 m north of it.
class FourWays : public EngineRuns {
protected:
    void SetUp() override {
        const NodeRef w = net.node(7.995, 50.5);
        const NodeRef a = net.node(8.000, 50.5);
        const NodeRef c = net.node(8.010, 50.5);
        const NodeRef e = net.node(8.015, 50.5);
        net.way("highway=residential", {w, a});
        net.way("highway=residential", {c, e, net.node(8.020, 50.5)});
        net.way("highway=track", {a, net.node(8.005, 50.5), c});
        for (const double lat : {50.501, 50.4985, 50.502}) {
            net.way("highway=residential", {a, net.node(8.000, lat), net.node(8.010, lat), c});
        }
        write(net);
    }

    TestNetwork net;
    // The end lies in the tile east of C's, on a link written there in full.
    const std::string route = "7.9975,50.5;8.0175,50.5";
};

TEST_F(FourWays, EachAlternativeAvoidsTheEarlierOnes) {
    // Cheapest first: north (1876), south (2100), the track (2148); once each
    // is charged again for its length, the far north street (2320) is next.
    const std::int32_t expected[] = {gridLat(50.501), gridLat(50.4985), gridLat(50.5), gridLat(50.502)};
    for (std::int32_t k = 0; k <= 3; ++k) {
        EngineRun r = run(route, 0, "", [k](RoutingContext& rc, OsmNodeNamedList&) { rc.alternativeIdx = k; });
        ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << r.error();
        const std::int32_t via = r.maxLat() > gridLat(50.5) ? r.maxLat() : r.minLat();
        EXPECT_EQ(via, expected[k]) << "alternative " << k;
        EXPECT_EQ(r.track().name, "ostrand_test_" + std::to_string(k));
        ASSERT_TRUE(r.track().messageList);
        EXPECT_EQ(r.track().messageList->size(), static_cast<std::size_t>(k + 1));
        EXPECT_EQ(r.track().messageList->back(), *r.track().message);
    }
}

TEST_F(FourWays, AlternativeIndexIsClampedAndNamesFollowTheProfile) {
    EngineRun below = run(route, 0, "", [](RoutingContext& rc, OsmNodeNamedList&) { rc.alternativeIdx = -5; });
    EXPECT_EQ(below.track().messageList->size(), 1u);
    EXPECT_EQ(below.track().name, "ostrand_test_0");
    EngineRun above = run(route, 0, "", [](RoutingContext& rc, OsmNodeNamedList&) { rc.alternativeIdx = 9; });
    EXPECT_EQ(above.track().messageList->size(), 4u);
    EXPECT_EQ(above.track().name, "ostrand_test_3");
    // Only a lower-case suffix is cut.
    EngineRun upper = run(route, 0, "", nullptr, "other.VPF");
    EXPECT_EQ(upper.track().name, "ostrand_other.VPF_0");
    const OsmTrack& t = below.track();
    EXPECT_EQ(*t.message, "track-length = " + std::to_string(t.distance) +
                              " filtered ascend = 0 plain-ascend = 0 cost=" + std::to_string(t.cost));
}

TEST_F(FourWays, RunErrorsOfTheDriver) {
    RoutingContext rc;
    rc.profilePath = profiles.write("test.vpf", testProfile());
    const auto engineFor = [&](const std::string& lonlats, std::int32_t mode) {
        const std::string* text = lonlats.empty() ? nullptr : &lonlats;
        OsmNodeNamedList waypoints = text ? RoutingParamCollector().getWayPointList(text) : OsmNodeNamedList();
        auto engine = std::make_unique<RoutingEngine>(jcompat::File(segments.path()), waypoints, rc, mode);
        return engine;
    };
    const auto failure = [](RoutingEngine& engine) {
        try {
            engine.doRun(60000);
        } catch (const jcompat::IllegalArgumentException& e) {
            return e.getMessage();
        }
        return std::string("<none>");
    };
    EXPECT_EQ(failure(*engineFor("8.0,50.5", 0)), "we need two lat/lon points at least!");
    EXPECT_EQ(failure(*engineFor(route, 1)), "not a valid engine mode");
    EXPECT_EQ(failure(*engineFor(route, 5)), "not a valid engine mode");
    EXPECT_EQ(failure(*engineFor("", 3)), "we need one lat/lon point at least!");
    EXPECT_EQ(failure(*engineFor("", 4)), "we need one lat/lon point at least!");
    ProfileCache::releaseProfile(rc);
}

TEST_F(FourWays, StopFlagEndsTheRunWithItsMessage) {
    RoutingContext rc;
    rc.profilePath = profiles.write("test.vpf", testProfile());
    OsmNodeNamedList waypoints = RoutingParamCollector().getWayPointList(&route);
    RoutingEngine engine(jcompat::File(segments.path()), waypoints, rc, 0);
    engine.terminate();
    engine.doRun(60000);
    EXPECT_EQ(engine.getErrorMessage(), "operation killed by thread-priority-watchdog after 0 seconds");
    EXPECT_EQ(EngineProbe::nodesCache(engine), nullptr);
    EXPECT_EQ(rc.expctxWay, nullptr);
}

TEST_F(FourWays, FailuresBecomeTheErrorMessage) {
    RoutingContext rc;
    rc.profilePath = profiles.write("test.vpf", testProfile());
    RoutingEngine engine(jcompat::File(segments.path()), {}, rc, 0);
    engine.logException(jcompat::IllegalArgumentException("bad point"));
    EXPECT_EQ(engine.getErrorMessage(), "bad point");
    engine.logException(jcompat::IOException("disk gone"));
    EXPECT_EQ(engine.getErrorMessage(), "IOException: disk gone");
    engine.logException(jcompat::EOFException());
    EXPECT_EQ(engine.getErrorMessage(), "EOFException");
    engine.logException(std::bad_alloc());
    EXPECT_EQ(engine.getErrorMessage(), "OutOfMemoryError");
    // A run-time failure without message leaves no error: the found (empty)
    // track is the answer.
    engine.logException(jcompat::NoSuchElementException());
    EXPECT_EQ(engine.getErrorMessage(), std::nullopt);
    ProfileCache::releaseProfile(rc);
}

// W - J - E along 50.5 N with a dead end J - S of 111 m to the north.
class DeadEnd : public EngineRuns {
protected:
    void SetUp() override {
        const NodeRef w = net.node(7.995, 50.5);
        const NodeRef j = net.node(8.000, 50.5);
        const NodeRef e = net.node(8.005, 50.5);
        net.way("highway=residential", {w, j, e});
        net.way("highway=residential", {j, net.node(8.000, 50.501)});
        write(net);
    }

    TestNetwork net;
    const std::string viaTheSpur = "7.9975,50.5;8.0,50.501;8.0025,50.5";
};

TEST_F(DeadEnd, ViaPointAtTheEndOfASpur) {
    EngineRun plain = run(viaTheSpur);
    ASSERT_EQ(plain.engine->getErrorMessage(), std::nullopt) << plain.error();
    EXPECT_EQ(plain.maxLat(), gridLat(50.501));
    EXPECT_EQ(plain.matchedNames(), (std::vector<std::string>{"from", "via1", "to"}));
    // The via point's index in the track is the end of the first leg.
    const auto& via = *plain.track().matchedWaypoints[1];
    EXPECT_EQ(plain.track().points[static_cast<std::size_t>(via.indexInTrack)]->ilat, gridLat(50.501));
    EXPECT_EQ(plain.track().matchedWaypoints[2]->indexInTrack,
              static_cast<std::int32_t>(plain.track().points.size()) - 1);

    // Corrected, the route passes the junction and leaves the spur out.
    EngineRun corrected = run(viaTheSpur, 0, "assign correctMisplacedViaPoints 1");
    ASSERT_EQ(corrected.engine->getErrorMessage(), std::nullopt) << corrected.error();
    EXPECT_EQ(corrected.maxLat(), gridLat(50.5));
    EXPECT_EQ(corrected.track().distance, plain.track().distance - 222);

    // A named via point ("m") is never corrected.
    EngineRun named = run("7.9975,50.5;8.0,50.501,m;8.0025,50.5", 0, "assign correctMisplacedViaPoints 1");
    EXPECT_EQ(named.maxLat(), gridLat(50.501));
}

TEST_F(DeadEnd, SameWayBackVisitsTheWaypointsInReverse) {
    EngineRun r = run(viaTheSpur, 0, "", [](RoutingContext& rc, OsmNodeNamedList&) { rc.allowSamewayback = true; });
    ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << r.error();
    std::vector<std::string> names;
    for (const auto& waypoint : r.engine->getWaypoints()) names.push_back(*waypoint->name);
    EXPECT_EQ(names, (std::vector<std::string>{"from", "via1", "via2_center", "via", "to"}));
    EXPECT_EQ(r.engine->getWaypoints()[3]->ilat, gridLat(50.501));
    EXPECT_EQ(r.engine->getWaypoints()[4]->ilon, gridLon(7.9975));
    EXPECT_EQ(r.track().points.front()->ilon, r.track().points.back()->ilon);
}

TEST_F(DeadEnd, WaypointsInAbsoluteNogoAreas) {
    const auto nogoAt = [](double lon, double lat, double weight) {
        return [=](RoutingContext& rc, OsmNodeNamedList&) {
            auto nogo = std::make_shared<OsmNodeNamed>(gridLon(lon), gridLat(lat), "nogo30");
            nogo->radius = 30.0;
            nogo->isNogo = true;
            nogo->nogoWeight = weight;
            rc.nogoPoints.push_back(nogo);
        };
    };
    const double absolute = std::numeric_limits<double>::quiet_NaN();
    // The middle one is dropped: one leg from the start to the end.
    EngineRun middle = run(viaTheSpur, 0, "", nogoAt(8.0, 50.501, absolute));
    ASSERT_EQ(middle.engine->getErrorMessage(), std::nullopt) << middle.error();
    EXPECT_EQ(middle.matchedNames(), (std::vector<std::string>{"from", "to"}));
    EXPECT_EQ(middle.maxLat(), gridLat(50.5));
    // The last one fails the run.
    EXPECT_EQ(run("7.9975,50.5;8.0025,50.5", 0, "", nogoAt(8.0025, 50.5, absolute)).error(),
              "last wpt in restricted area ");
    // The start is kept, and the search starts out of the area.
    EngineRun start = run("7.9975,50.5;8.0025,50.5", 0, "", nogoAt(7.9975, 50.5, absolute));
    EXPECT_EQ(start.engine->getErrorMessage(), std::nullopt) << start.error();
    EXPECT_EQ(start.matchedNames(), (std::vector<std::string>{"from", "to"}));
    // A waypoint after one inside is kept too.
    const auto both = [&](RoutingContext& rc, OsmNodeNamedList& w) {
        nogoAt(7.9975, 50.5, absolute)(rc, w);
        nogoAt(8.0, 50.501, absolute)(rc, w);
    };
    EngineRun second = run(viaTheSpur, 0, "", both);
    EXPECT_EQ(second.matchedNames(), (std::vector<std::string>{"from", "via1", "to"}));
    // A penalty area never drops a waypoint.
    EngineRun penalty = run(viaTheSpur, 0, "", nogoAt(8.0, 50.501, 5.0));
    EXPECT_EQ(penalty.matchedNames(), (std::vector<std::string>{"from", "via1", "to"}));
}

TEST_F(DeadEnd, StraightLineLegsRunNoSearch) {
    // From the start a straight line to the via point (its own position), then a search.
    EngineRun r = run("7.9975,50.4995,d;8.0,50.5;8.0025,50.5");
    ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << r.error();
    const auto& points = r.track().points;
    ASSERT_GE(points.size(), 3u);
    EXPECT_EQ(points[0]->ilon, gridLon(7.9975));
    EXPECT_EQ(points[0]->ilat, gridLat(50.4995));
    EXPECT_EQ(points[1]->ilat, gridLat(50.5));
    ASSERT_TRUE(points[1]->message && points[1]->message->wayTags);
    EXPECT_THAT(*points[1]->message->wayTags, ::testing::StartsWith("direct_segment="));
    EXPECT_TRUE(r.rc->hasDirectRouting);
    // The straight section takes the time of the slowest section, 12.5 m/s
    // on the street here (the profile's default speed), on top of the one
    // second that marks it.
    EXPECT_NEAR(points[1]->message->time, 1.0f + points[1]->message->distance / 12.5f, 0.01f);
}

TEST_F(DeadEnd, FarWaypoints) {
    // 444 m north of the street: beyond the catching range, found with the
    // dynamic range (in the waypoint's own tile).
    const std::string far = "7.9975,50.504;8.0025,50.5";
    EngineRun dynamic = run(far);
    ASSERT_EQ(dynamic.engine->getErrorMessage(), std::nullopt) << dynamic.error();
    EXPECT_EQ(dynamic.track().points.front()->ilat, gridLat(50.5));

    EXPECT_EQ(run(far, 0, "assign use_dynamic_range 0").error(), "from-position not mapped in existing datafile");

    // With straight-line waypoints the route starts at the requested point.
    EngineRun beeline = run(far, 0, "assign add_beeline 1");
    ASSERT_EQ(beeline.engine->getErrorMessage(), std::nullopt) << beeline.error();
    EXPECT_EQ(beeline.matchedNames(), (std::vector<std::string>{"from", "from_add", "to"}));
    EXPECT_EQ(beeline.track().points.front()->ilat, gridLat(50.504));
    EXPECT_EQ(beeline.track().points[1]->ilat, gridLat(50.5));

    // A far via point: out to it in a straight line and back.
    EngineRun via = run("7.9975,50.5;8.0,50.504;8.0025,50.5", 0, "assign add_beeline 1");
    ASSERT_EQ(via.engine->getErrorMessage(), std::nullopt) << via.error();
    EXPECT_EQ(via.matchedNames(), (std::vector<std::string>{"from", "via1", "via1_add", "via1_add_2", "to"}));
    EXPECT_EQ(via.maxLat(), gridLat(50.504));
    const auto& matched = via.track().matchedWaypoints;
    EXPECT_EQ(matched[1]->kind, 3);
    EXPECT_EQ(matched[2]->kind, 3);
    EXPECT_EQ(matched[3]->kind, 1);
}

// A stored reference track: big-endian bytes as the engine reads them.
class ReferenceTrackFile {
public:
    void putInt(std::int64_t value, int bytes) {
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) data_.push_back(static_cast<char>(value >> shift));
    }
    void putPosition(double lon, double lat) {
        putInt(gridLat(lat), 4);
        putInt(gridLon(lon), 4);
    }
    void write(const std::string& path) const { std::ofstream(path, std::ios::binary) << data_; }

private:
    std::string data_;
};

TEST_F(DeadEnd, StoredReferenceTrackStandsInForTheLastWaypoint) {
    const auto runWithStamp = [&](bool sameProfile) {
        EngineRun r;
        r.rc = std::make_unique<RoutingContext>();
        r.rc->profilePath = profiles.write("test.vpf", testProfile());
        const std::string lonlats = "7.9975,50.5;8.0025,50.5";
        r.engine = std::make_unique<RoutingEngine>(jcompat::File(segments.path()),
                                                   RoutingParamCollector().getWayPointList(&lonlats), *r.rc, 0);
        ReferenceTrackFile file;
        // The end waypoint: on the segment J - E, within 20 grid units of the request's end.
        file.putPosition(8.0, 50.5);
        file.putPosition(8.005, 50.5);
        file.putPosition(8.0025, 50.5);
        file.putPosition(8.0025, 50.5);
        file.putInt(0, 8); // radius 0.0
        file.putInt(1, 1);
        file.putInt(6, 2);
        for (const char c : std::string("stored")) file.putInt(c, 1);
        file.putInt(3, 4);
        const double lons[] = {7.9975, 8.0, 8.0025};
        for (int i = 0; i < 3; ++i) {
            file.putPosition(lons[i], 50.5);
            file.putInt(-32768, 2);
            file.putInt(178 * i, 4);
        }
        for (int i = 0; i < 3; ++i) file.putInt(0, 8); // no no-go areas
        file.putInt(0, 1);                             // clean
        file.putInt(sameProfile ? r.rc->profileTimestamp : r.rc->profileTimestamp + 1, 8);
        const std::string path = profiles.path() + "/reference.dat";
        file.write(path);
        r.rc->rawTrackPath = path;
        r.engine->doRun(60000);
        return r;
    };
    EngineRun stored = runWithStamp(true);
    ASSERT_EQ(stored.engine->getErrorMessage(), std::nullopt) << stored.error();
    EXPECT_EQ(stored.matchedNames(), (std::vector<std::string>{"from", "stored"}));
    EXPECT_EQ(stored.track().points.back()->ilon, gridLon(8.0025));
    // Another profile: the stored track is not used, the end is matched.
    EngineRun other = runWithStamp(false);
    ASSERT_EQ(other.engine->getErrorMessage(), std::nullopt) << other.error();
    EXPECT_EQ(other.matchedNames(), (std::vector<std::string>{"from", "to"}));
}

TEST_F(DeadEnd, PassesSkippedAltogetherFindNoTrack) {
    EXPECT_EQ(run("7.9975,50.5;8.0025,50.5", 0, "assign pass1coefficient -1\nassign pass2coefficient -1").error(),
              "no track found");
    // Pass 0 skipped: pass 1 alone finds the route.
    EngineRun pass1 = run("7.9975,50.5;8.0025,50.5", 0, "assign pass1coefficient -1");
    EXPECT_EQ(pass1.engine->getErrorMessage(), std::nullopt) << pass1.error();
}

TEST_F(DeadEnd, MissingSegmentFile) {
    EXPECT_EQ(run("7.9975,50.5;12.5,50.5").error(), "datafile E10_N50.rd5 not found");
}

TEST_F(DeadEnd, PointInformation) {
    for (const std::int32_t mode : {2, 3}) {
        EngineRun r = run("8.0005,50.5004", mode);
        ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << r.error();
        EXPECT_EQ(r.track().name, "getinfo");
        EXPECT_EQ(EngineProbe::nodesCache(*r.engine), nullptr); // no segment file stays open
        ASSERT_TRUE(r.track().messageList);
        EXPECT_TRUE(r.track().messageList->empty());
        // The matched segment: the spur from the junction to its end.
        std::vector<std::int32_t> lats;
        for (const auto& point : r.track().points) lats.push_back(point->ilat);
        EXPECT_THAT(lats, ::testing::Contains(gridLat(50.5)));
        if (mode == 3) {
            ASSERT_EQ(r.track().pois.size(), 1u);
            EXPECT_EQ(r.track().pois[0]->name, "wpt_info");
            EXPECT_EQ(r.track().pois[0]->ilat, gridLat(50.5004));
            ASSERT_EQ(r.track().matchedWaypoints.size(), 1u);
            EXPECT_EQ(r.track().matchedWaypoints[0]->name, "wpt_info");
        } else {
            EXPECT_TRUE(r.track().pois.empty());
            EXPECT_EQ(r.track().matchedWaypoints.size(), 2u);
        }
        // Point information keeps the profile (its start ways were freed).
        EXPECT_NE(r.rc->expctxWay, nullptr);
        ProfileCache::releaseProfile(*r.rc);
    }
}

TEST_F(EngineRuns, InformationPointElevationIsInterpolated) {
    TestNetwork net;
    net.way("highway=residential", {net.node(8.0, 50.5).elevation(100.0), net.node(8.0, 50.501).elevation(110.0)});
    write(net);
    // A quarter of the way from the south end.
    EngineRun r = run("8.0,50.50025", 3);
    ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << r.error();
    ASSERT_EQ(r.track().pois.size(), 1u);
    const std::int16_t elevation = r.track().pois[0]->selev;
    EXPECT_NEAR(elevation, 410, 1); // 102.5 m
    ProfileCache::releaseProfile(*r.rc);
}

// The information point of hand-made tracks along 8 E, where 0.001 degrees
// of latitude are 111.24 m.
class InformationPoint : public ::testing::Test {
protected:
    void addPoint(double lat, std::int16_t elevation) {
        track.points.push_back(std::make_shared<OsmPathElement>(gridLon(8.0), gridLat(lat), elevation, nullptr));
    }

    // The elevation of the point at the latitude, or the failure's message.
    std::string at(double lat) {
        mapaccess::MatchedWaypoint info;
        info.name = "wpt_info";
        info.crossPoint = std::make_shared<mapaccess::OsmNode>(gridLon(8.0), gridLat(lat));
        try {
            const std::shared_ptr<OsmNodeNamed> point = EngineProbe::informationPoint(track, info);
            EXPECT_EQ(point->name, "wpt_info");
            EXPECT_EQ(point->ilat, gridLat(lat));
            return std::to_string(point->selev);
        } catch (const jcompat::IndexOutOfBoundsException& failure) {
            return failure.getMessage();
        }
    }

    OsmTrack track;
};

TEST_F(InformationPoint, InterpolatesTowardsTheNextPointOrAtTheEndTheOneBefore) {
    addPoint(50.500, 400);
    addPoint(50.501, 440);
    addPoint(50.502, 416);
    // Nearest the middle point (22 m), towards the next one (89 m): 440 +
    // 22 / 111 x (416 - 440) = 435.2, the share cut toward zero.
    EXPECT_EQ(at(50.5012), "436");
    // Nearest the last point (22 m), towards the one before (89 m).
    EXPECT_EQ(at(50.5018), "420");
}

TEST_F(InformationPoint, ReadsOutsideTheTrackFailAsIndexFailures) {
    // No point: the nearest index stays unset (-1), which is the last index,
    // so the other one is -2.
    EXPECT_EQ(at(50.5), "Index -2 out of bounds for length 0");
    // One point: it is the last, and the one before it is missing.
    addPoint(50.5, 400);
    EXPECT_EQ(at(50.5), "Index -1 out of bounds for length 1");
    EXPECT_EQ(at(50.6), "Index -1 out of bounds for length 1");
    // No point nearer than 99999 m: the nearest index stays unset; its
    // neighbour, point 0, is read first.
    addPoint(50.501, 440);
    EXPECT_EQ(at(52.0), "Index -1 out of bounds for length 2");
}

TEST_F(EngineRuns, PointInformationAlongOneOfTwoWaysBetweenTheSameNodes) {
    TestNetwork net;
    testsupport::oddsites::addParallelWays(net);
    write(net);
    // The segment searched is the way the point lies by, from E to W.
    const auto bends = [](const OsmTrack& track) {
        std::vector<std::int32_t> latitudes;
        for (const auto& point : track.points) latitudes.push_back(point->ilat);
        return latitudes;
    };
    const std::int32_t middle = gridLat(50.01);
    for (const auto& [at, bend] :
         {std::pair{"8.0425,50.00968", gridLat(50.0097)}, std::pair{"8.0425,50.01032", gridLat(50.0103)}}) {
        for (const std::int32_t mode : {2, 3}) {
            EngineRun r = run(at, mode);
            ASSERT_EQ(r.engine->getErrorMessage(), std::nullopt) << r.error();
            EXPECT_EQ(bends(r.track()), (std::vector<std::int32_t>{middle, bend, bend, middle})) << at;
            EXPECT_EQ(r.track().pois.size(), mode == 3 ? 1u : 0u);
            ProfileCache::releaseProfile(*r.rc);
        }
    }
    // On the street on from the east end the point is found.
    EngineRun east = run("8.047,50.01", 3);
    ASSERT_EQ(east.engine->getErrorMessage(), std::nullopt) << east.error();
    ASSERT_EQ(east.track().pois.size(), 1u);
    EXPECT_EQ(east.track().pois[0]->ilon, gridLon(8.047));
    ProfileCache::releaseProfile(*east.rc);
}

TEST_F(EngineRuns, IslandsAroundTheTargetAreLeftForTheRoadNetwork) {
    // A street 150 m south of the target, and short ways beside the target
    // that lead nowhere.
    TestNetwork net;
    net.way("highway=residential", {net.node(7.995, 50.5), net.node(8.000, 50.5), net.node(8.005, 50.5)});
    const auto island = [&net](double lon) {
        net.way("highway=residential", {net.node(lon, 50.50125), net.node(lon, 50.50145)});
    };
    island(8.0002);
    write(net);
    EngineRun one = run("7.9975,50.5;8.0,50.50135");
    ASSERT_EQ(one.engine->getErrorMessage(), std::nullopt) << one.error();
    EXPECT_EQ(one.maxLat(), gridLat(50.5)); // the target moved to the street
}

TEST_F(EngineRuns, SixIslandsAreReportedAsAnIsland) {
    TestNetwork net;
    net.way("highway=residential", {net.node(7.995, 50.5), net.node(8.000, 50.5), net.node(8.005, 50.5)});
    for (int k = 1; k <= 6; ++k) {
        const double lon = 8.0 + 0.0002 * k;
        net.way("highway=residential", {net.node(lon, 50.50125), net.node(lon, 50.50145)});
    }
    write(net);
    // Each retry freezes one island; after five the search reports it.
    EXPECT_EQ(run("7.9975,50.5;8.0,50.50135").error(), "target island detected for section 0");
}

TEST_F(EngineRuns, ElevationFilterFollowsTheFilesElevationType) {
    TestNetwork net;
    net.way("highway=residential", {net.node(8.0, 50.5), net.node(8.001, 50.5)});
    net.way("highway=residential", {net.node(13.0, 50.5), net.node(13.001, 50.5)});
    SegmentFileOptions typeOne;
    typeOne.elevationType = 1;
    write(net, SegmentWriter().file("E5_N50", typeOne));

    RoutingContext rc;
    rc.profilePath = profiles.write("test.vpf", testProfile());
    RoutingEngine engine(jcompat::File(segments.path()), {}, rc, 0);
    mapaccess::OsmNode here(gridLon(8.0), gridLat(50.5));
    mapaccess::OsmNode there(gridLon(13.0), gridLat(50.5));
    EXPECT_EQ(engine.elevationFilter(here), -10.0); // no node cache
    engine.resetCache(false);
    EngineProbe::nodesCache(engine)->getSegmentFor(here.ilon, here.ilat);
    EXPECT_EQ(engine.elevationFilter(here), -5.0);
    EXPECT_EQ(engine.elevationFilter(there), -10.0); // not opened
    EngineProbe::nodesCache(engine)->getSegmentFor(there.ilon, there.ilat);
    EXPECT_EQ(engine.elevationFilter(there), -10.0);
    ProfileCache::releaseProfile(rc);
}

TEST_F(EngineRuns, UnreachableTargetInALargeNetwork) {
    // Two grids of 24 x 24 crossings without a link between them: the island
    // check gives up after 500 nodes, pass 0 then searches the whole first grid.
    TestNetwork net;
    for (const double west : {7.90, 8.10}) {
        std::vector<std::vector<NodeRef>> grid(24);
        for (int i = 0; i < 24; ++i) {
            for (int j = 0; j < 24; ++j) grid[i].push_back(net.node(west + 0.001 * j, 50.5 + 0.001 * i));
        }
        for (int i = 0; i < 24; ++i) {
            for (int j = 0; j + 1 < 24; ++j) {
                net.way("highway=residential", {grid[i][j], grid[i][j + 1]});
                net.way("highway=residential", {grid[j][i], grid[j + 1][i]});
            }
        }
    }
    write(net);
    EXPECT_EQ(run("7.9005,50.5;8.1005,50.5").error(), "no track found at pass=0");
}

} // namespace
} // namespace ferrow::router::testing
