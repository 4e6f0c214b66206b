#include "service/RouteGeoJson.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/RouteService.h"

using ferrow::router::MessageData;
using ferrow::router::OsmPathElement;
using ferrow::router::OsmTrack;
using ferrow::service::RouteGeoJson;
using ferrow::service::RouteService;

namespace {

const std::string kHeaderRow =
    R"(["Longitude","Latitude","Elevation","Distance","CostPerKm","ElevCost","TurnCost","NodeCost","InitialCost","WayTags","NodeTags","Time","Energy"])";

OsmPathElement& addPoint(OsmTrack& track, std::int32_t ilon, std::int32_t ilat, std::int16_t selev) {
    auto point = std::make_unique<OsmPathElement>();
    point->ilon = ilon;
    point->ilat = ilat;
    point->selev = selev;
    if (!track.points.empty()) point->origin = track.points.back().get();
    track.points.push_back(std::move(point));
    return *track.points.back();
}

MessageData& addMessage(OsmPathElement& point, const char* wayTags) {
    point.message = std::make_unique<MessageData>();
    if (wayTags != nullptr) point.message->wayTags = wayTags;
    point.message->ilon = point.ilon;
    point.message->ilat = point.ilat;
    point.message->elevation = point.selev;
    return *point.message;
}

} // namespace

TEST(RouteServiceRow, QuotesBackslashQuoteAndControlCharacters) {
    EXPECT_EQ(RouteService::row("a\\b\"c\x01"), R"(["a\\b\"c\u0001"])");
    EXPECT_EQ(RouteService::row("\x1F\x7F"), "[\"\\u001f\x7F\"]");
    EXPECT_EQ(RouteService::row("\n\r"), R"(["\u000a\u000d"])");
    EXPECT_EQ(RouteService::row(""), R"([""])");
    EXPECT_EQ(RouteService::row("\t"), R"(["",""])");
    EXPECT_EQ(RouteService::row("x\t\ty\t"), R"(["x","","y",""])");
    EXPECT_EQ(RouteService::row("name=Straße €"), R"(["name=Straße €"])");
    EXPECT_EQ(RouteService::row(OsmTrack::MESSAGES_HEADER), kHeaderRow);
}

TEST(RouteServiceFormatPos, SixFractionDigits) {
    EXPECT_EQ(RouteService::formatPos(8123456), "8.123456");
    EXPECT_EQ(RouteService::formatPos(-500000), "-0.500000");
    EXPECT_EQ(RouteService::formatPos(0), "0.000000");
    EXPECT_EQ(RouteService::formatPos(180000000), "180.000000");
    EXPECT_EQ(RouteService::formatPos(-90000000), "-90.000000");
    EXPECT_EQ(RouteService::formatPos(-1), "-0.000001");
    EXPECT_EQ(RouteService::formatPos(2147483647), "2147.483647");
    EXPECT_EQ(RouteService::formatPos(-2147483647 - 1), "-2147.483648");
}

TEST(RouteGeoJson, EmptyTrack) {
    const OsmTrack track;
    EXPECT_EQ(RouteGeoJson::format(track),
              R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"track-length":"0",)"
              R"("filtered ascend":"0","plain-ascend":"0","total-time":"0","total-energy":"0","cost":"0",)"
              R"("messages":[)" +
                  kHeaderRow + R"(]},"geometry":{"type":"LineString","coordinates":[]}}]})");
}

TEST(RouteGeoJson, TwoPointsOnOneWayMergeIntoOneRow) {
    OsmTrack track;
    MessageData& first = addMessage(addPoint(track, 188123456, 140000000, 481), "highway=residential surface=asphalt");
    first.distance = 10;
    first.elevationCost = 1;
    first.turnCost = 2;
    first.nodeCost = 3;
    first.initialCost = 4;
    first.costFactor = 1.2f;
    first.time = 1.5f;
    first.energy = 100.7f;
    MessageData& second = addMessage(addPoint(track, 188124000, 140000500, 480), "highway=residential surface=asphalt");
    second.distance = 20;
    second.elevationCost = 10;
    second.turnCost = 20;
    second.nodeCost = 30;
    second.initialCost = 40;
    second.costFactor = 1.5f;
    second.time = 12.4f;
    second.energy = 900.2f;
    track.distance = 30;
    track.filteredAscend = 2;
    track.plainAscend = 3;
    track.cost = 144;
    track.energy = 900;

    // total time: 12.4f - 1.5f = 10.9, + 0.5 truncates to 11; the row takes
    // the second point's columns with distance and cost shares summed.
    EXPECT_EQ(
        RouteGeoJson::format(track),
        R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"track-length":"30",)"
        R"("filtered ascend":"2","plain-ascend":"3","total-time":"11","total-energy":"900","cost":"144",)"
        R"("messages":[)" +
            kHeaderRow +
            R"(,["8124000","50000500","120","30","1500","11","22","33","44",)"
            R"("highway=residential surface=asphalt","","12","900"]]},)"
            R"("geometry":{"type":"LineString","coordinates":[[8.123456,50.000000,120.25],[8.124000,50.000500,120.0]]}}]})");
}

TEST(RouteGeoJson, NodeTagsEndARunAndPointsWithoutTagsAreSkipped) {
    OsmTrack track;
    addPoint(track, 179500000, 89500000, -32768);                 // start, no message
    addMessage(addPoint(track, 179600000, 89600000, 0), nullptr); // message without way tags
    MessageData& gate = addMessage(addPoint(track, 179700000, 89700000, 4), "highway=track");
    gate.nodeTags = "barrier=gate";
    gate.distance = 5;
    gate.time = 2.0f;
    MessageData& after = addMessage(addPoint(track, 179800000, 89800000, 8), "highway=track");
    after.distance = 7;
    after.time = 3.0f;
    MessageData& other = addMessage(addPoint(track, 179900000, 89900000, 12), "highway=path");
    other.distance = 11;
    other.time = 4.0f;

    const auto rows = RouteGeoJson::messageRows(track);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "-300000\t-300000\t1\t5\t0\t0\t0\t0\t0\thighway=track\tbarrier=gate\t2\t0");
    EXPECT_EQ(rows[1], "-200000\t-200000\t2\t7\t0\t0\t0\t0\t0\thighway=track\t\t3\t0");
    EXPECT_EQ(rows[2], "-100000\t-100000\t3\t11\t0\t0\t0\t0\t0\thighway=path\t\t4\t0");
    // The first point has no message: its time counts as 0.
    EXPECT_EQ(RouteGeoJson::totalTime(track), 4);

    const std::string json = RouteGeoJson::format(track);
    EXPECT_NE(json.find(R"("coordinates":[[-0.500000,-0.500000],[-0.400000,-0.400000,0.0],[-0.300000,-0.300000,1.0],)"),
              std::string::npos)
        << json;
}

TEST(RouteGeoJson, TotalTimeRoundsAndSaturates) {
    OsmTrack track;
    addMessage(addPoint(track, 0, 0, 0), "a").time = 0.0f;
    EXPECT_EQ(RouteGeoJson::totalTime(track), 0); // one point
    MessageData& last = addMessage(addPoint(track, 0, 0, 0), "a");
    last.time = 2.49f;
    EXPECT_EQ(RouteGeoJson::totalTime(track), 2);
    last.time = -2.0f;
    EXPECT_EQ(RouteGeoJson::totalTime(track), -1); // -1.5 truncates toward zero
    last.time = 3e9f;
    EXPECT_EQ(RouteGeoJson::totalTime(track), 2147483647);
    last.time = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(RouteGeoJson::totalTime(track), 0);
}
