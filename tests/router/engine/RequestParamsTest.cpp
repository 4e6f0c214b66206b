// Waypoints, no-go areas, points of interest and settings from a request's
// parameters, applied to a routing context.
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingParamCollector.h"
#include "router/waypoints/OsmNogoPolygon.h"

using ferrow::jcompat::Throwable;
using ferrow::router::OsmNodeNamed;
using ferrow::router::OsmNodeNamedList;
using ferrow::router::OsmNogoPolygon;
using ferrow::router::RequestParams;
using ferrow::router::RoutingContext;
using ferrow::router::RoutingParamCollector;
using testing::ElementsAre;
using testing::Pair;

namespace {

// "Type: message" of the failure, or "<no failure>".
std::string failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const Throwable& e) {
        return e.toString();
    }
    return "<no failure>";
}

OsmNodeNamedList waypoints(const std::string& lonlats) { return RoutingParamCollector().getWayPointList(&lonlats); }

std::string waypointFailure(const std::string& lonlats) {
    return failure([&] { waypoints(lonlats); });
}

// The context after the query's parameters were applied, with three waypoints.
struct Applied {
    explicit Applied(const std::string& query) {
        params = RoutingParamCollector().getUrlParams(query);
        wps = waypoints("8.1,49.2|8.2,49.3|8.3,49.4");
        RoutingParamCollector().setParams(rc, wps, params);
    }
    RequestParams params;
    OsmNodeNamedList wps;
    RoutingContext rc;
};

std::string applyFailure(const std::string& query) {
    return failure([&] { Applied applied(query); });
}

} // namespace

TEST(WayPointList, NamesKindsAndGridPositions) {
    const OsmNodeNamedList two = waypoints("8.1,49.2|8.3,49.4");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0]->name, "from");
    EXPECT_EQ(two[1]->name, "to");
    EXPECT_EQ(two[0]->waypointKind, 1);
    EXPECT_EQ(two[1]->waypointKind, 1);
    EXPECT_EQ(two[0]->ilon, 188100000);
    EXPECT_EQ(two[0]->ilat, 139200000);
    EXPECT_EQ(two[1]->ilon, 188300000);
    EXPECT_EQ(two[1]->ilat, 139400000);
    EXPECT_EQ(two[0]->selev, -32768);

    const OsmNodeNamedList three = waypoints("8.1,49.2;8.2,49.3,d;8.3,49.4");
    EXPECT_EQ(three[1]->name, "via1");
    EXPECT_EQ(three[1]->waypointKind, 3);

    const OsmNodeNamedList named = waypoints("8.1,49.2;8.2,49.3,Home;8.25,49.35,m;8.3,49.4,Work,ignored");
    EXPECT_EQ(named[1]->name, "Home");
    EXPECT_EQ(named[1]->waypointKind, 2);
    EXPECT_EQ(named[2]->name, "via2");
    EXPECT_EQ(named[2]->waypointKind, 2);
    EXPECT_EQ(named[3]->name, "Work");

    const OsmNodeNamedList one = waypoints("-0.5,-0.25");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]->name, "from");
    EXPECT_EQ(one[0]->ilon, 179500000);
    EXPECT_EQ(one[0]->ilat, 89750000);

    // A custom name beginning with "via" on either end is replaced too.
    const OsmNodeNamedList viaNames = waypoints("8.1,49.2,viaduct|8.3,49.4,via Roma");
    EXPECT_EQ(viaNames[0]->name, "from");
    EXPECT_EQ(viaNames[1]->name, "to");
    EXPECT_EQ(viaNames[1]->waypointKind, 2);
}

TEST(WayPointList, Failures) {
    EXPECT_EQ(failure([] { RoutingParamCollector().getWayPointList(nullptr); }),
              "IllegalArgumentException: lonlats parameter not set");
    const std::string needOne = "IllegalArgumentException: we need one lat/lon point at least!";
    EXPECT_EQ(waypointFailure(""), needOne);
    EXPECT_EQ(waypointFailure(";|;"), needOne);
    EXPECT_EQ(waypointFailure("8.1;49.2"), needOne);
    EXPECT_EQ(waypointFailure("8.1,49.2;,,"), needOne);
    EXPECT_EQ(waypointFailure("8.1,49.2;8.3"), "IndexOutOfBoundsException");
    EXPECT_EQ(waypointFailure("8.1,49.2;x,1"), "NumberFormatException: For input string: \"x\"");
}

TEST(WayPointList, LatitudesBeyondTheFileRowsAreRefused) {
    EXPECT_EQ(waypointFailure("180,-90|-180,89.9999"), "<no failure>");
    EXPECT_EQ(waypointFailure("8,90"), "IllegalArgumentException: lon/lat out of range: 8,90");
    EXPECT_EQ(waypointFailure("8,-90.1"), "IllegalArgumentException: lon/lat out of range: 8,-90.1");
    EXPECT_EQ(waypointFailure("1,-Infinity"), "IllegalArgumentException: lon/lat out of range: 1,-Infinity");
    // Longitudes convert with saturation, NaN giving 0: those squares have no file.
    const OsmNodeNamedList far =
        RoutingParamCollector().getWayPointList(std::make_unique<std::string>("180.000001,0|1e300,1|NaN,NaN").get());
    EXPECT_EQ(far[0]->ilon, 360000001);
    EXPECT_EQ(far[1]->ilon, 2147483647);
    EXPECT_EQ(far[2]->ilon, 0);
    EXPECT_EQ(far[2]->ilat, 0);
}

TEST(SetParams, NogoCircles) {
    Applied plain("nogos=8.1,49.2,50");
    ASSERT_EQ(plain.rc.nogoPoints.size(), 1u);
    const OsmNodeNamed& circle = *plain.rc.nogoPoints[0];
    EXPECT_EQ(circle.toString(), "188100000,139200000,nogo50");
    EXPECT_TRUE(circle.isNogo);
    EXPECT_TRUE(std::isnan(circle.nogoWeight));
    EXPECT_EQ(circle.radius, 50.0);
    EXPECT_EQ(circle.waypointKind, 1);
    EXPECT_EQ(circle.selev, -32768);
    EXPECT_FALSE(plain.params.containsKey("nogos"));

    Applied weighted("nogos=8.1,49.2,50,10,more|8.2,49.3,50.9,+NaN|8.2,49.3,-7.9, NaN ");
    ASSERT_EQ(weighted.rc.nogoPoints.size(), 3u);
    EXPECT_EQ(weighted.rc.nogoPoints[0]->toString(), "188100000,139200000,nogo50,10.0");
    EXPECT_EQ(weighted.rc.nogoPoints[1]->name, "nogo50");
    EXPECT_TRUE(std::isnan(weighted.rc.nogoPoints[1]->nogoWeight));
    EXPECT_EQ(weighted.rc.nogoPoints[2]->name, "nogo-7");
    EXPECT_EQ(weighted.rc.nogoPoints[2]->radius, -7.0);
    EXPECT_TRUE(std::isnan(weighted.rc.nogoPoints[2]->nogoWeight));

    EXPECT_EQ(applyFailure("nogos=8.1,49.2"), "IndexOutOfBoundsException");
    EXPECT_EQ(applyFailure("nogos=8.1,49.2,x"), "NumberFormatException: For input string: \"x\"");
}

TEST(SetParams, ExtremeNogoNumbers) {
    Applied huge("nogos=8.1,49.2,1e300,1e300|8.1,49.2,-1e300");
    EXPECT_EQ(huge.rc.nogoPoints[0]->name, "nogo2147483647");
    EXPECT_EQ(huge.rc.nogoPoints[0]->radius, 2147483647.0);
    EXPECT_EQ(huge.rc.nogoPoints[0]->nogoWeight, 1e300); // its costs are bounded where they arise
    EXPECT_EQ(huge.rc.nogoPoints[1]->name, "nogo-2147483648");
}

TEST(SetParams, InfiniteWeightsAndFarPositions) {
    const double infinity = std::numeric_limits<double>::infinity();
    Applied infinite(
        "nogos=8.1,49.2,50,Infinity|8.1,49.2,50,-Infinity|8.1,49.2,50,1e400&"
        "polygons=8.1,49.1,8.2,49.1,8.2,49.2,Infinity");
    ASSERT_EQ(infinite.rc.nogoPoints.size(), 4u);
    EXPECT_EQ(infinite.rc.nogoPoints[0]->nogoWeight, infinity);
    EXPECT_EQ(infinite.rc.nogoPoints[1]->nogoWeight, -infinity);
    EXPECT_EQ(infinite.rc.nogoPoints[2]->nogoWeight, infinity);
    EXPECT_EQ(infinite.rc.nogoPoints[3]->nogoWeight, infinity);

    // Areas and points of interest anywhere, with saturating grid values.
    Applied far("nogos=188.1,49.2,50|NaN,NaN,50&polylines=8.1,49.1,8.2,95&pois=8.1,-91,x|1e300,0,y");
    ASSERT_EQ(far.rc.nogoPoints.size(), 3u);
    EXPECT_EQ(far.rc.nogoPoints[0]->toString(), "368100000,139200000,nogo50");
    EXPECT_EQ(far.rc.nogoPoints[1]->toString(), "0,0,nogo50");
    EXPECT_EQ(far.rc.nogoPoints[2]->asPolygon()->points.back().y, 185000000);
    ASSERT_EQ(far.rc.poiList.size(), 2u);
    EXPECT_EQ(far.rc.poiList[0]->ilat, -999999); // -999999.5 truncated toward zero
    EXPECT_EQ(far.rc.poiList[1]->ilon, 2147483647);
}

TEST(SetParams, ParallelLists) {
    Applied lists("nogoLons=8.1,8.2,8.3&nogoLats=49.1, 49.2&nogoRadi=10 ,20.7&x=1");
    ASSERT_EQ(lists.rc.nogoPoints.size(), 2u);
    EXPECT_EQ(lists.rc.nogoPoints[0]->toString(), "188100000,139100000,nogo10");
    EXPECT_EQ(lists.rc.nogoPoints[1]->toString(), "188200000,139200000,nogo20");
    EXPECT_EQ(lists.rc.nogoPoints[1]->radius, 20.0);
    EXPECT_THAT(lists.params, ElementsAre(Pair("x", "1")));

    // without the radii: no circles, but the keys are consumed
    Applied noRadii("nogoLons=8.1&nogoLats=49.1");
    EXPECT_TRUE(noRadii.rc.nogoPoints.empty());
    EXPECT_TRUE(noRadii.params.isEmpty());

    // An empty "nogoLats" leaves all three keys unused.
    RoutingContext rc;
    OsmNodeNamedList wps = waypoints("8,49");
    RequestParams params;
    params.put("nogoLons", "8.1");
    params.put("nogoLats", "");
    params.put("nogoRadi", "10");
    RoutingParamCollector().setParams(rc, wps, params);
    EXPECT_TRUE(rc.nogoPoints.empty());
    EXPECT_EQ(params.size(), 3u);
}

TEST(SetParams, PolygonsAndPolylines) {
    Applied areas("polygons=8.1,49.1,8.2,49.1,8.2,49.2,5|8.1&polylines=8.1|8.3,49.3,8.4,49.4| NaN ");
    ASSERT_EQ(areas.rc.nogoPoints.size(), 2u);
    // polylines before polygons, whatever the order of the keys
    const OsmNogoPolygon* line = areas.rc.nogoPoints[0]->asPolygon();
    const OsmNogoPolygon* polygon = areas.rc.nogoPoints[1]->asPolygon();
    ASSERT_NE(line, nullptr);
    ASSERT_NE(polygon, nullptr);
    EXPECT_FALSE(line->isClosed);
    EXPECT_EQ(line->points, (std::vector<OsmNogoPolygon::Point>{{188300000, 139300000}, {188400000, 139400000}}));
    EXPECT_TRUE(std::isnan(line->nogoWeight));
    EXPECT_TRUE(polygon->isClosed);
    EXPECT_EQ(polygon->points.size(), 3u);
    EXPECT_EQ(polygon->points[2], (OsmNogoPolygon::Point{188200000, 139200000}));
    EXPECT_EQ(polygon->nogoWeight, 5.0);
    EXPECT_EQ(polygon->name, "");
    // the bounding circle was computed: it holds the vertices
    EXPECT_GT(polygon->radius, 1.0);
    EXPECT_NE(polygon->ilon, 0);
    EXPECT_TRUE(areas.params.isEmpty());

    Applied single("polygons=8.1,49.1");
    ASSERT_EQ(single.rc.nogoPoints.size(), 1u);
    EXPECT_EQ(single.rc.nogoPoints[0]->radius, 1.0);
}

TEST(SetParams, NogoListOrder) {
    Applied all(
        "polygons=8.4,49.4,8.5,49.5&polylines=8.3,49.3,8.35,49.35&nogos=8.2,49.2,20&nogoLats=49.1&"
        "nogoLons=8.1&nogoRadi=10&straight=0");
    ASSERT_EQ(all.rc.nogoPoints.size(), 4u);
    EXPECT_EQ(all.rc.nogoPoints[0]->name, "nogo10");
    EXPECT_EQ(all.rc.nogoPoints[1]->name, "nogo20");
    EXPECT_FALSE(all.rc.nogoPoints[2]->asPolygon()->isClosed);
    EXPECT_TRUE(all.rc.nogoPoints[3]->asPolygon()->isClosed);
    EXPECT_THAT(all.params, ElementsAre(Pair("straight", "0")));
}

TEST(SetParams, StraightLegs) {
    Applied marked("straight=1,7");
    EXPECT_EQ(marked.wps[0]->waypointKind, 1);
    EXPECT_EQ(marked.wps[1]->waypointKind, 3);
    EXPECT_EQ(marked.wps[2]->waypointKind, 1);
    EXPECT_EQ(applyFailure("straight=-1"), "IndexOutOfBoundsException: index: -1, size: 3");
    EXPECT_EQ(applyFailure("straight=1,x"), "NumberFormatException: For input string: \"x\"");
    EXPECT_EQ(applyFailure("straight=1.0"), "NumberFormatException: For input string: \"1.0\"");
}

TEST(SetParams, PointsOfInterestKeepUtf8Names) {
    Applied pois("pois=8.1,49.2,Caf%C3%A9|bad|8.2,49.3,A,B|8.3,49.4,%F0%9F%9A%B2");
    ASSERT_EQ(pois.rc.poiList.size(), 2u);
    EXPECT_EQ(pois.rc.poiList[0]->name, "Café");
    EXPECT_EQ(pois.rc.poiList[0]->ilon, 188100000);
    EXPECT_EQ(pois.rc.poiList[0]->waypointKind, 1);
    EXPECT_FALSE(pois.rc.poiList[0]->isNogo);
    EXPECT_EQ(pois.rc.poiList[1]->name, "\U0001F6B2");
}

TEST(SetParams, SettingsTable) {
    Applied applied(
        "profile=p.vpf&heading=90&roundTripDistance=3000&roundTripDirectionAdd=-45&roundTripPoints=20&"
        "allowSamewayback=1&alternativeidx=2&exportWaypoints=1&exportCorrectedWaypoints=1&"
        "format=GeoJSON&profile:avoid_toll=1&profile:x=2&lonlats=ignored&engineMode=9&unknown=1");
    const RoutingContext& rc = applied.rc;
    EXPECT_EQ(rc.profilePath, "p.vpf");
    EXPECT_EQ(rc.startDirection, 90);
    EXPECT_TRUE(rc.forceUseStartDirection);
    EXPECT_EQ(rc.roundTripDistance, 3000);
    EXPECT_EQ(rc.roundTripDirectionAdd, -45);
    EXPECT_EQ(rc.roundTripPoints, 20);
    EXPECT_TRUE(rc.allowSamewayback);
    EXPECT_EQ(rc.alternativeIdx, 2);
    EXPECT_TRUE(rc.exportWaypoints);
    EXPECT_TRUE(rc.exportCorrectedWaypoints);
    EXPECT_EQ(rc.outputFormat, "geojson");
    ASSERT_TRUE(rc.keyValues.has_value());
    EXPECT_THAT(*rc.keyValues, ElementsAre(Pair("avoid_toll", "1"), Pair("x", "2")));

    Applied defaults("unknown=1");
    EXPECT_FALSE(defaults.rc.startDirection.has_value());
    EXPECT_FALSE(defaults.rc.roundTripPoints.has_value());
    EXPECT_FALSE(defaults.rc.keyValues.has_value());
    EXPECT_EQ(defaults.rc.outputFormat, "gpx");
    EXPECT_FALSE(defaults.rc.allowSamewayback);
    EXPECT_FALSE(Applied("allowSamewayback=2&exportWaypoints=0").rc.allowSamewayback);

    for (const auto& [value, expected] :
         {std::pair{"2", 5}, std::pair{"3", 3}, std::pair{"21", 5}, std::pair{"-4", 5}}) {
        EXPECT_EQ(Applied(std::string("roundTripPoints=") + value).rc.roundTripPoints, expected) << value;
    }
    EXPECT_EQ(applyFailure("heading=east"), "NumberFormatException: For input string: \"east\"");
    EXPECT_EQ(applyFailure("alternativeidx=1.5"), "NumberFormatException: For input string: \"1.5\"");
}

TEST(SetParams, LaterKeysWin) {
    Applied headingFirst("heading=90&direction=180");
    EXPECT_EQ(headingFirst.rc.startDirection, 180);
    EXPECT_TRUE(headingFirst.rc.forceUseStartDirection);
    Applied directionFirst("direction=180&heading=90");
    EXPECT_EQ(directionFirst.rc.startDirection, 90);
    EXPECT_FALSE(Applied("direction=180").rc.forceUseStartDirection);

    EXPECT_EQ(Applied("timode=1&turnInstructionFormat=OsmAnd").rc.turnInstructionMode, 3);
    EXPECT_EQ(Applied("turnInstructionFormat=osmand&timode=1").rc.turnInstructionMode, 1);
    EXPECT_EQ(Applied("turnInstructionFormat=LOCUS").rc.turnInstructionMode, 2);
    EXPECT_EQ(Applied("turnInstructionMode=4&turnInstructionFormat=gpx").rc.turnInstructionMode, 4);
    EXPECT_EQ(Applied("turnInstructionMode=4&timode=5").rc.turnInstructionMode, 5);
    EXPECT_EQ(Applied("trackFormat=KML&format=Gpx").rc.outputFormat, "gpx");
    EXPECT_EQ(Applied("format=Gpx&trackFormat=KML").rc.outputFormat, "kml");
    // A repeated key keeps its first place and takes its last value.
    EXPECT_EQ(Applied("direction=1&heading=2&direction=3").rc.startDirection, 2);
}

TEST(SetParams, NothingHappensWithoutParameters) {
    RoutingContext rc;
    OsmNodeNamedList wps = waypoints("8,49");
    RequestParams params;
    RoutingParamCollector().setParams(rc, wps, params);
    EXPECT_FALSE(rc.profilePath.has_value());
    EXPECT_TRUE(rc.nogoPoints.empty());
}
