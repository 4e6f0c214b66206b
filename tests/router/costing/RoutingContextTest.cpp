// The routing context: global parameters read from profiles, the model
// choice, no-go preparation and checksums, and the segment length function
// with its no-go pricing and waypoint catching, in the latitude band of
// 49.25 degrees north (kKx, kKy metres per grid unit).
#include "router/costing/RoutingContext.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/StdModel.h"
#include "router/waypoints/OsmNogoPolygon.h"
#include "testsupport/ProfileFiles.h"

using ferrow::router::OsmNodeNamed;
using ferrow::router::OsmNodeNamedList;
using ferrow::router::OsmNogoPolygon;
using ferrow::router::ProfileCache;
using ferrow::router::RoutingContext;
using ferrow::router::StdModel;
using ferrow::router::testing::ProfileDir;
using ferrow::router::testing::profileText;

namespace {

constexpr double kKx = 0.07280722791534137;
constexpr double kKy = 0.11121460995146276;
constexpr std::int32_t kX0 = 188100000;
constexpr std::int32_t kY0 = 139250000;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A context whose profile is loaded; released at the end.
class LoadedContext {
public:
    explicit LoadedContext(const std::string& profilePath, int requestTurnInstructionMode = 0) {
        rc.profilePath = profilePath;
        rc.turnInstructionMode = requestTurnInstructionMode;
        ProfileCache::parseProfile(rc);
    }
    ~LoadedContext() { ProfileCache::releaseProfile(rc); }
    RoutingContext rc;
};

std::string loadFailure(const std::string& profilePath) {
    RoutingContext rc;
    rc.profilePath = profilePath;
    try {
        ProfileCache::parseProfile(rc);
    } catch (const ferrow::jcompat::Throwable& e) {
        return e.toString();
    }
    ProfileCache::releaseProfile(rc);
    return "<no failure>";
}

std::shared_ptr<OsmNodeNamed> nogoCircle(std::int32_t ilon, std::int32_t ilat, double radius, double weight) {
    auto nogo = std::make_shared<OsmNodeNamed>(ilon, ilat, "nogo");
    nogo->isNogo = true;
    nogo->radius = radius;
    nogo->nogoWeight = weight;
    return nogo;
}

std::shared_ptr<OsmNogoPolygon> nogoSquare(bool closed, double weight) {
    auto polygon = std::make_shared<OsmNogoPolygon>(closed);
    polygon->addVertex(kX0 - 1000, kY0 - 1000);
    polygon->addVertex(kX0 + 1000, kY0 - 1000);
    polygon->addVertex(kX0 + 1000, kY0 + 1000);
    polygon->addVertex(kX0 - 1000, kY0 + 1000);
    polygon->nogoWeight = weight;
    polygon->calcBoundingCircle();
    return polygon;
}

} // namespace

TEST(ReadGlobalConfig, DefaultsAndFloatWidening) {
    ProfileDir dir;
    LoadedContext loaded(dir.write("plain.vpf", profileText("assign unrelated 1")));
    const RoutingContext& rc = loaded.rc;
    ASSERT_NE(dynamic_cast<StdModel*>(rc.pathModel.get()), nullptr);
    EXPECT_EQ(static_cast<StdModel&>(*rc.pathModel).ctxWay, rc.expctxWay);
    EXPECT_EQ(static_cast<StdModel&>(*rc.pathModel).ctxNode, rc.expctxNode);
    EXPECT_FALSE(rc.validForCars || rc.validForBikes || rc.validForFoot || rc.considerCrossing);
    EXPECT_EQ(rc.crossingPrioH, 0);
    EXPECT_EQ(rc.costToRightFromHClass[5], 0);
    EXPECT_EQ(rc.waypointCatchingRange, 250.0);
    EXPECT_TRUE(rc.considerTurnRestrictions);
    EXPECT_FALSE(rc.correctMisplacedViaPoints);
    EXPECT_EQ(rc.correctMisplacedViaPointsDistance, 400.0);
    EXPECT_EQ(rc.pass1coefficient, 1.5);
    EXPECT_EQ(rc.pass2coefficient, 0.0);
    EXPECT_EQ(rc.elevationpenaltybuffer, 5000000);
    EXPECT_EQ(rc.elevationmaxbuffer, 10000000);
    EXPECT_EQ(rc.elevationbufferreduce, 0);
    EXPECT_EQ(rc.cost1speed, 22.0);
    EXPECT_EQ(rc.additionalcostfactor, 1.5);
    EXPECT_EQ(rc.changetime, 180.0);
    EXPECT_EQ(rc.buffertime, 120.0);
    EXPECT_EQ(rc.waittimeadjustment, 0.8999999761581421);
    EXPECT_EQ(rc.inittimeadjustment, 0.20000000298023224);
    EXPECT_EQ(rc.starttimeoffset, 0.0);
    EXPECT_EQ(rc.turnInstructionMode, 0);
    EXPECT_EQ(rc.turnInstructionCatchingRange, 40.0);
    EXPECT_TRUE(rc.turnInstructionRoundabouts);
    EXPECT_EQ(rc.totalMass, 90.0);
    EXPECT_EQ(rc.maxSpeed, 12.5);
    EXPECT_EQ(rc.S_C_x, 0.22499999403953552);
    EXPECT_EQ(rc.C_r, 0.009999999776482582);
    EXPECT_EQ(rc.bikerPower, 100.0);
    EXPECT_TRUE(rc.useDynamicRange);
    EXPECT_FALSE(rc.addBeeline);
    EXPECT_FALSE(rc.inverseRouting || rc.showtime || rc.transitonly || rc.processUnusedTags);
}

TEST(ReadGlobalConfig, FootDefaultsAndScaledIntegers) {
    ProfileDir dir;
    LoadedContext loaded(dir.write("walk.vpf", profileText("assign validForFoot 1\n"
                                                           "assign elevationbufferreduce 0.5\n"
                                                           "assign crossing_Prio_H -2.7\n"
                                                           "assign cost_ToLeft_from_H_class3 12.9\n"
                                                           "assign use_dynamic_range 2\n"
                                                           "assign add_beeline 1\n")));
    const RoutingContext& rc = loaded.rc;
    EXPECT_TRUE(rc.validForFoot);
    EXPECT_FALSE(rc.considerTurnRestrictions);
    EXPECT_FALSE(rc.turnInstructionRoundabouts);
    EXPECT_EQ(rc.maxSpeed, 6 / 3.6);
    EXPECT_EQ(rc.elevationbufferreduce, 5000);
    EXPECT_EQ(rc.crossingPrioH, -2);
    EXPECT_EQ(rc.costToLeftFromHClass[2], 12);
    EXPECT_FALSE(rc.useDynamicRange); // only exactly 1 counts
    EXPECT_TRUE(rc.addBeeline);
}

TEST(ReadGlobalConfig, TurnInstructionModeOfTheRequestSurvivesOnlyProfileValueOne) {
    ProfileDir dir;
    EXPECT_EQ(LoadedContext(dir.write("none.vpf", profileText("")), 2).rc.turnInstructionMode, 0);
    EXPECT_EQ(
        LoadedContext(dir.write("one.vpf", profileText("assign turnInstructionMode 1")), 2).rc.turnInstructionMode, 2);
    EXPECT_EQ(
        LoadedContext(dir.write("three.vpf", profileText("assign turnInstructionMode 3")), 2).rc.turnInstructionMode,
        3);
}

TEST(ReadGlobalConfig, OurProfiles) {
    const std::string profiles = std::string(FERROW_SOURCE_DIR) + "/profiles/";
    {
        LoadedContext car(profiles + "car.vpf", 2);
        EXPECT_TRUE(car.rc.validForCars);
        EXPECT_FALSE(car.rc.validForFoot);
        EXPECT_TRUE(car.rc.considerTurnRestrictions);
        EXPECT_EQ(car.rc.turnInstructionMode, 2); // the profile leaves it to the request
        EXPECT_EQ(car.rc.maxSpeed, 130 / 3.6);
        EXPECT_EQ(car.rc.totalMass, 1500.0);
        EXPECT_EQ(car.rc.S_C_x, 0.4000000059604645);
        EXPECT_EQ(car.rc.C_r, 0.012000000104308128);
        EXPECT_EQ(car.rc.waypointCatchingRange, 250.0);
    }
    {
        LoadedContext bike(profiles + "bike.vpf");
        EXPECT_TRUE(bike.rc.validForBikes);
        EXPECT_TRUE(bike.rc.turnInstructionRoundabouts);
        EXPECT_EQ(bike.rc.elevationpenaltybuffer, 5000000);
        EXPECT_EQ(bike.rc.maxSpeed, 40 / 3.6);
        EXPECT_EQ(bike.rc.S_C_x, 0.22499999403953552);
    }
    {
        LoadedContext foot(profiles + "foot.vpf");
        EXPECT_TRUE(foot.rc.validForFoot);
        EXPECT_FALSE(foot.rc.considerTurnRestrictions);
        EXPECT_FALSE(foot.rc.turnInstructionRoundabouts);
        EXPECT_EQ(foot.rc.maxSpeed, 6 / 3.6);
        EXPECT_EQ(foot.rc.totalMass, 90.0);
    }
}

TEST(ReadGlobalConfig, CheckStartWayOtherThanOneFreesTheNoStartWays) {
    const std::string car = std::string(FERROW_SOURCE_DIR) + "/profiles/car.vpf";
    LoadedContext checked(car);
    EXPECT_FALSE(checked.rc.expctxWay->noStartWays().empty());
    ProfileCache::releaseProfile(checked.rc);

    LoadedContext freed(car);
    freed.rc.expctxWay->assign(freed.rc.expctxWay->getVariableIdx("check_start_way", false), 0);
    freed.rc.readGlobalConfig();
    EXPECT_TRUE(freed.rc.expctxWay->noStartWays().empty());
}

TEST(ReadGlobalConfig, ModelChoice) {
    ProfileDir dir;
    EXPECT_EQ(loadFailure(dir.write("typo.vpf", "---model:ferrow.router.StdMode\n" + profileText(""))),
              "RuntimeException: Cannot create path-model: java.lang.ClassNotFoundException: ferrow.router.StdMode");
    EXPECT_EQ(loadFailure(dir.write("kin.vpf", "---model:ferrow.router.KinematicModel\n" + profileText(""))),
              "<no failure>");
    EXPECT_EQ(loadFailure(dir.write("std.vpf", "---model:ferrow.router.StdModel\n" + profileText(""))), "<no failure>");
}

TEST(ReadGlobalConfig, NeedsTheContexts) {
    RoutingContext rc;
    EXPECT_THROW(rc.readGlobalConfig(), ferrow::jcompat::IllegalStateException);
}

TEST(PrepareNogoPoints, RadiusFromTheName) {
    OsmNodeNamedList nogos;
    for (const char* name : {"nogo", "nogo35 with a note", "nogo50", "no", "nogo-5"}) {
        nogos.push_back(std::make_shared<OsmNodeNamed>(1, 2, name));
    }
    auto polygon = std::make_shared<OsmNogoPolygon>(true);
    polygon->radius = 77;
    nogos.push_back(polygon);
    RoutingContext::prepareNogoPoints(nogos);
    EXPECT_EQ(nogos[0]->radius, 20.0);
    EXPECT_EQ(nogos[1]->radius, 35.0);
    EXPECT_EQ(nogos[2]->radius, 50.0);
    EXPECT_EQ(nogos[3]->radius, 20.0);
    EXPECT_EQ(nogos[4]->radius, -5.0);
    EXPECT_EQ(nogos[5]->radius, 77.0);

    // A leading space does not end the prefix.
    OsmNodeNamedList bad{std::make_shared<OsmNodeNamed>(1, 2, " nogo35")};
    try {
        RoutingContext::prepareNogoPoints(bad);
        FAIL();
    } catch (const ferrow::jcompat::NumberFormatException& e) {
        EXPECT_EQ(e.getMessage(), "For input string: \"o35\"");
    }
    OsmNodeNamedList unnamed{std::make_shared<OsmNodeNamed>(1, 2, std::nullopt)};
    EXPECT_THROW(RoutingContext::prepareNogoPoints(unnamed), ferrow::jcompat::IllegalArgumentException);
}

TEST(NogoList, ChecksumsAndWaypointInFront) {
    RoutingContext rc;
    EXPECT_EQ(rc.getNogoChecksums(), (std::array<std::int64_t, 3>{0, 0, 0}));
    rc.nogoPoints = {nogoCircle(100, 200, 12.34, kNaN), nogoCircle(1000, 2000, 2147483647.0 * 10, 1)};
    // 12.34 x 10 truncates to 123; a radius beyond the 32-bit range still sums exactly
    EXPECT_EQ(rc.getNogoChecksums(), (std::array<std::int64_t, 3>{1100, 2200, 123 + 214748364700LL}));

    const OsmNodeNamedList original = rc.nogoPoints;
    auto wp = std::make_shared<OsmNodeNamed>(5, 5, "wp");
    auto end = std::make_shared<OsmNodeNamed>(6, 6, "end");
    rc.setWaypoint(wp, end, true);
    ASSERT_EQ(rc.nogoPoints.size(), 3u);
    EXPECT_EQ(rc.nogoPoints[0], wp);
    EXPECT_EQ(rc.nogoPoints[1], original[0]);
    EXPECT_TRUE(rc.isEndpoint);
    EXPECT_EQ(rc.pendingEndpoint, end);
    rc.unsetWaypoint();
    EXPECT_EQ(rc.nogoPoints, original);
    EXPECT_FALSE(rc.isEndpoint);
    EXPECT_EQ(rc.pendingEndpoint, nullptr);

    rc.nogoPointsAll = {original[1]};
    rc.restoreNogoList();
    EXPECT_EQ(rc.nogoPoints, rc.nogoPointsAll);
}

TEST(CalcDistance, RoundedLengthAtLeastOne) {
    RoutingContext rc;
    rc.nogoCost = 7;
    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, kNaN)};
    // zero length: 1, and the circle right there is not consulted
    EXPECT_EQ(rc.calcDistance(kX0, kY0, kX0, kY0), 1);
    EXPECT_EQ(rc.nogoCost, 7);
    rc.nogoPoints.clear();
    // 171 units are 12.45 m, 172 units 12.52 m
    EXPECT_EQ(rc.calcDistance(kX0, kY0 + 5000, kX0 + 171, kY0 + 5000), 12);
    EXPECT_EQ(rc.calcDistance(kX0, kY0 + 5000, kX0 + 172, kY0 + 5000), 13);
    EXPECT_EQ(rc.calcDistance(kX0, kY0, kX0, kY0 + 1000), 111);
    EXPECT_FALSE(rc.shortestMatch);
    EXPECT_EQ(rc.nogoCost, 7);
}

TEST(CalcDistance, NogoCircles) {
    RoutingContext rc;
    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, kNaN)};
    EXPECT_EQ(rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0), 291);
    EXPECT_EQ(rc.nogoCost, -1);

    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, 2)};
    rc.nogoCost = 0;
    rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0);
    EXPECT_NEAR(rc.nogoCost, 400.0, 1e-9); // the diameter, twice
    rc.calcDistance(kX0 - 2000, kY0 + 500, kX0 + 2000, kY0 + 500);
    EXPECT_NEAR(rc.nogoCost, 2 * 166.22668417959855, 1e-9);

    // a miss, beside and beyond the circle, leaves the cost as it was
    rc.nogoCost = 5;
    rc.calcDistance(kX0 - 2000, kY0 + 1000, kX0 + 2000, kY0 + 1000);
    rc.calcDistance(kX0 + 1500, kY0, kX0 + 3000, kY0);
    EXPECT_EQ(rc.nogoCost, 5);

    // a later area that applies overwrites the cost of an earlier one
    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, kNaN), nogoCircle(kX0 + 100, kY0, 100, 1)};
    rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0);
    EXPECT_NEAR(rc.nogoCost, 200.0, 1e-9);
}

TEST(CalcDistance, ExtremeWeightsStayWithinTheCostBound) {
    RoutingContext rc;
    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, 1e300)};
    rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0);
    EXPECT_EQ(rc.nogoCost, RoutingContext::MAX_NOGO_COST);
    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, -1e308)};
    rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0);
    EXPECT_EQ(rc.nogoCost, -RoutingContext::MAX_NOGO_COST);
    rc.nogoPoints = {nogoCircle(kX0, kY0, 2147483647.0, 3)};
    rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0);
    EXPECT_NEAR(rc.nogoCost, 3 * 4000 * kKx, 1e-9); // wholly inside the huge circle
}

TEST(CalcDistance, InfiniteWeights) {
    const double infinity = std::numeric_limits<double>::infinity();
    RoutingContext rc;
    rc.nogoPoints = {nogoCircle(kX0, kY0, 100, infinity)};
    rc.calcDistance(kX0 - 2000, kY0, kX0 + 2000, kY0);
    EXPECT_EQ(rc.nogoCost, RoutingContext::MAX_NOGO_COST);
    rc.nogoPoints = {nogoSquare(true, -infinity)};
    rc.calcDistance(kX0 - 3000, kY0, kX0 + 3000, kY0);
    EXPECT_EQ(rc.nogoCost, -RoutingContext::MAX_NOGO_COST);

    // A segment that ends on the boundary has no length inside: no cost,
    // where infinity times zero would have made the cost undefined.
    rc.nogoPoints = {nogoSquare(true, infinity)};
    rc.nogoCost = 5;
    EXPECT_EQ(rc.calcDistance(kX0 - 3000, kY0, kX0 - 1000, kY0), 146);
    EXPECT_EQ(rc.nogoCost, 0);
}

TEST(CalcDistance, NogoPolygonsAndPolylines) {
    RoutingContext rc;
    rc.nogoPoints = {nogoSquare(true, 3)};
    rc.calcDistance(kX0 - 3000, kY0, kX0 + 3000, kY0);
    EXPECT_NEAR(rc.nogoCost, 3 * 2000 * kKx, 1e-9);

    // inside the bounding circle but clear of the square
    rc.nogoCost = 5;
    rc.calcDistance(kX0 - 3000, kY0 + 1100, kX0 + 3000, kY0 + 1100);
    EXPECT_EQ(rc.nogoCost, 5);

    rc.nogoPoints = {nogoSquare(true, kNaN)};
    rc.calcDistance(kX0 - 3000, kY0, kX0, kY0);
    EXPECT_EQ(rc.nogoCost, -1);

    // a polyline costs its weight per crossing, whatever the length
    rc.nogoPoints = {nogoSquare(false, 7)};
    rc.calcDistance(kX0 - 3000, kY0 - 500, kX0 + 3000, kY0 - 500);
    EXPECT_EQ(rc.nogoCost, 7);
    // ... but the open side is no edge
    rc.nogoCost = 0;
    rc.calcDistance(kX0 - 3000, kY0, kX0, kY0);
    EXPECT_EQ(rc.nogoCost, 0);
}

TEST(CalcDistance, CatchesAWaypointOnTheWay) {
    for (const bool isEndpoint : {false, true}) {
        RoutingContext rc;
        rc.nogoPoints = {nogoCircle(kX0, kY0, 100, kNaN)};
        auto wp = std::make_shared<OsmNodeNamed>(kX0 - 500, kY0 + 300, "wp");
        wp->radius = 50;
        rc.setWaypoint(wp, nullptr, isEndpoint);
        rc.nogoCost = 9;
        // The segment runs 2000 units east; the waypoint's foot is 3/4 from its end.
        const std::int32_t metres = rc.calcDistance(kX0 - 1000, kY0 - 3000, kX0 + 1000, kY0 - 3000);
        // far south of the waypoint: nothing caught
        EXPECT_FALSE(rc.shortestMatch);
        EXPECT_EQ(metres, 146);

        const std::int32_t rest = rc.calcDistance(kX0 - 1000, kY0, kX0 + 1000, kY0);
        EXPECT_TRUE(rc.shortestMatch);
        EXPECT_NEAR(wp->radius, 300 * kKy, 1e-9);
        EXPECT_EQ(rc.ilonShortest, kX0 - 500);
        EXPECT_EQ(rc.ilatShortest, kY0);
        if (isEndpoint) {
            EXPECT_EQ(rc.wayFraction, 0.25);
            EXPECT_EQ(rest, 36);        // start to the catch point, 500 units
            EXPECT_EQ(rc.nogoCost, -1); // the no-go circle on the remaining piece
        } else {
            EXPECT_EQ(rc.wayFraction, 0.75);
            EXPECT_EQ(rest, 109); // the catch point to the end, 1500 units
            EXPECT_EQ(rc.nogoCost, -1);
        }
        rc.unsetWaypoint();
    }
}

TEST(CalcDistance, CatchAtTheNearerEnd) {
    RoutingContext rc;
    auto wp = std::make_shared<OsmNodeNamed>(kX0 + 1100, kY0 + 100, "wp");
    wp->radius = 50;
    rc.setWaypoint(wp, nullptr, false);
    rc.nogoCost = 3;
    // The foot lies beyond the end: the end itself is caught, nothing is left.
    EXPECT_EQ(rc.calcDistance(kX0 - 1000, kY0, kX0 + 1000, kY0), 1);
    EXPECT_TRUE(rc.shortestMatch);
    EXPECT_EQ(rc.wayFraction, 0.0);
    EXPECT_EQ(rc.ilonShortest, kX0 + 1000);
    EXPECT_EQ(rc.ilatShortest, kY0);
    EXPECT_EQ(rc.nogoCost, 0);
    EXPECT_NEAR(wp->radius, std::hypot(100 * kKx, 100 * kKy), 1e-9);
}
