#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "router/costing/RoutingContext.h"
#include "router/track/OsmTrack.h"
#include "router/track/TrackTotals.h"

namespace ferrow::router {
namespace {

constexpr std::int16_t NONE = -32768;
// A north-south line at 50 N: 225 grid units of latitude are 25 metres there
// (0.11123 metres per unit), 450 are 50 and 899 are 100.
constexpr std::int32_t LON = 188000000;
constexpr std::int32_t LAT = 140000000;

struct PointSpec {
    PointSpec(std::int32_t north, std::int16_t elevation = NONE, float seconds = 0.0f, float joules = 0.0f,
              std::optional<std::string> tags = std::nullopt)
        : dlat(north), selev(elevation), time(seconds), energy(joules), wayTags(std::move(tags)) {}

    std::int32_t dlat;  // grid units north of LAT
    std::int16_t selev; // quarter metres
    float time;         // seconds
    float energy;       // joules
    std::optional<std::string> wayTags;
};

std::unique_ptr<OsmTrack> trackOf(const std::vector<PointSpec>& specs) {
    auto track = std::make_unique<OsmTrack>();
    for (const PointSpec& spec : specs) {
        auto point = std::make_shared<OsmPathElement>(LON, LAT + spec.dlat, spec.selev, nullptr);
        point->message = std::make_shared<MessageData>();
        point->message->time = spec.time;
        point->message->energy = spec.energy;
        point->message->wayTags = spec.wayTags;
        track->points.push_back(std::move(point));
    }
    return track;
}

std::vector<std::int16_t> elevations(const OsmTrack& track) {
    std::vector<std::int16_t> values;
    for (const auto& point : track.points) values.push_back(point->selev);
    return values;
}

// Points every 25 metres with the given elevations.
std::unique_ptr<OsmTrack> every25Metres(const std::vector<std::int16_t>& selevs,
                                        const std::optional<std::string>& wayTags = {}) {
    std::vector<PointSpec> specs;
    for (std::size_t i = 0; i < selevs.size(); ++i) {
        specs.emplace_back(static_cast<std::int32_t>(225 * i), selevs[i], 0.0f, 0.0f, wayTags);
    }
    return trackOf(specs);
}

TEST(ElevationFill, LeadingGapTakesTheFirstKnownElevation) {
    auto track = every25Metres({NONE, NONE, NONE, 400});
    TrackTotals::fillMissingElevations(*track);
    EXPECT_EQ(elevations(*track), (std::vector<std::int16_t>{400, 400, 400, 400}));
}

TEST(ElevationFill, LastPointTakesTheOneBeforeIt) {
    auto track = every25Metres({400, 404, NONE});
    TrackTotals::fillMissingElevations(*track);
    EXPECT_EQ(elevations(*track), (std::vector<std::int16_t>{400, 404, 404}));

    // Two missing at the end: the gap begins at the second to last point and
    // the last one copies its missing elevation.
    auto two = every25Metres({400, 404, NONE, NONE});
    TrackTotals::fillMissingElevations(*two);
    EXPECT_EQ(elevations(*two), (std::vector<std::int16_t>{400, 404, NONE, NONE}));
}

TEST(ElevationFill, GapFollowsTheGradientFromTwoPointsBefore) {
    // A and B at 400, C and D missing, E and F at 480: 80 units over the 100
    // metres from A to E, and B is rewritten on the way.
    auto track = every25Metres({400, 400, NONE, NONE, 480, 480});
    TrackTotals::fillMissingElevations(*track);
    EXPECT_EQ(elevations(*track), (std::vector<std::int16_t>{400, 420, 440, 460, 480, 480}));
    EXPECT_EQ(track->points[2]->message->elevation, 440);
}

TEST(ElevationFill, GapFollowsInclineTags) {
    // -8% reads as 8 units down per 100 metres, from A's elevation on.
    auto down = every25Metres({400, 400, NONE, NONE, 480, 480}, "highway=track incline=-8%");
    TrackTotals::fillMissingElevations(*down);
    EXPECT_EQ(elevations(*down), (std::vector<std::int16_t>{400, 398, 396, 394, 392, 480}));

    auto reversed = every25Metres({400, 400, NONE, NONE, 480, 480}, "highway=track incline=-8% reversedirection=yes");
    TrackTotals::fillMissingElevations(*reversed);
    EXPECT_EQ(elevations(*reversed), (std::vector<std::int16_t>{400, 402, 404, 406, 408, 480}));

    // A value that is no number climbs nothing; an incline tag still overrides the gradient.
    auto unknown = every25Metres({400, 400, NONE, NONE, 480, 480}, "highway=track incline=up");
    TrackTotals::fillMissingElevations(*unknown);
    EXPECT_EQ(elevations(*unknown), (std::vector<std::int16_t>{400, 400, 400, 400, 400, 480}));
}

TEST(ElevationFill, DownThenUpHeadsForTheGapExit) {
    // The first way goes down 8%, the second up: the climb is recomputed to
    // reach the gap's exit elevation over the rest of the gap.
    auto track = every25Metres({400, 400, NONE, NONE, 480, 480});
    track->points[1]->message->wayTags = "incline=-8%";
    track->points[2]->message->wayTags = "incline=-8%";
    track->points[3]->message->wayTags = "incline=5%";
    track->points[4]->message->wayTags = "incline=5%";
    TrackTotals::fillMissingElevations(*track);
    // At D: 396 + 25 / 100 x (480 - 396) / (50 / 100) = 396 + 42 = 438, then E = 480.
    EXPECT_EQ(elevations(*track), (std::vector<std::int16_t>{400, 398, 396, 438, 480, 480}));
}

class Recalculation : public ::testing::Test {
protected:
    void SetUp() override {
        rc.totalMass = 90.0;
        rc.C_r = 0.01;
        rc.S_C_x = 0.225;
    }

    void recalc(OsmTrack& track, double floor = -10.0) {
        TrackTotals::recalculate(track, rc, [floor](const OsmPathElement&) { return floor; });
    }

    RoutingContext rc;
};

TEST_F(Recalculation, FilteredAscentPaysBackDescents) {
    // Up 3 m, down 4 m, up 6 m: 3 + (6 - 4) = 5.
    auto track = every25Metres({400, 412, 396, 420});
    recalc(*track);
    EXPECT_EQ(track->filteredAscend, 5);
    EXPECT_EQ(track->plainAscend, 5); // 5.5 truncated
    recalc(*track, -5.0);
    EXPECT_EQ(track->filteredAscend, 5);

    // Down 20 m between the climbs: the buffer stops at the floor.
    auto deep = every25Metres({400, 412, 332, 356});
    recalc(*deep);
    EXPECT_EQ(deep->filteredAscend, 3);
    recalc(*deep, -5.0);
    EXPECT_EQ(deep->filteredAscend, 4);

    // Routing inversely the track is travelled backwards: descents climb.
    rc.inverseRouting = true;
    recalc(*deep);
    EXPECT_EQ(deep->filteredAscend, 17);
}

TEST_F(Recalculation, MissingElevationsClimbNothing) {
    // The fill leaves the last two points without elevation here; they must
    // not count as a climb from -8192 m, in either direction.
    auto track = every25Metres({400, 412, NONE, NONE});
    rc.inverseRouting = true;
    recalc(*track);
    EXPECT_EQ(track->filteredAscend, 0);
    rc.inverseRouting = false;
    recalc(*track);
    EXPECT_EQ(track->filteredAscend, 3);
}

TEST_F(Recalculation, PlainAscentRoundsHalfUpTowardsZero) {
    auto down = every25Metres({400, 380, 360});
    recalc(*down);
    EXPECT_EQ(down->plainAscend, -9); // -10 + 0.5
    auto up = every25Metres({360, 380, 400});
    recalc(*up);
    EXPECT_EQ(up->plainAscend, 10); // 10.5
}

TEST_F(Recalculation, SectionsAndLength) {
    // North 100 m, then 50 m east: a right angle to the right.
    auto track = trackOf({{0}, {899}});
    auto east = std::make_shared<OsmPathElement>(LON + 698, LAT + 899, NONE, nullptr); // 49.99 m
    track->points.push_back(east);
    recalc(*track);
    EXPECT_EQ(track->distance, 150);
    EXPECT_EQ(track->points[0]->message->distance, 0);
    EXPECT_EQ(track->points[1]->message->distance, 100);
    EXPECT_EQ(east->message->distance, 50); // a point without a record gets one
    EXPECT_FLOAT_EQ(track->points[1]->message->turnAngle, 0.0f);
    EXPECT_NEAR(east->message->turnAngle, 90.0f, 0.01f);
    EXPECT_EQ(track->filteredAscend, 0);
    EXPECT_EQ(track->plainAscend, 0);
}

TEST_F(Recalculation, StraightSegmentsGetTimeAndEnergyAtTheSlowestSpeed) {
    // 100 m in 10 s (36 km/h), then a straight 50 m segment (1 s).
    auto track = trackOf({{0, 400, 0.0f, 0.0f}, {899, 400, 10.0f, 500.0f}, {1349, 360, 11.0f, 500.0f}});
    recalc(*track);
    // 50 m at 10 m/s take 5 s more; down 10 m over 50 m (incline 0.2):
    // (90 x 9.81 x (0.2 + 0.01) + 10 x 10 x 0.225) x 50 = 10395.45 J.
    EXPECT_FLOAT_EQ(track->points[1]->message->time, 10.0f);
    EXPECT_FLOAT_EQ(track->points[2]->message->time, 16.0f);
    EXPECT_FLOAT_EQ(track->points[2]->message->energy, 500.0f + 10395.45f);
    EXPECT_EQ(track->energy, 10895);

    // Without elevations the segment is flat: (8.829 + 22.5) x 50 = 1566.45 J.
    auto flat = trackOf({{0, NONE, 0.0f}, {899, NONE, 10.0f, 500.0f}, {1349, NONE, 11.0f, 500.0f}});
    recalc(*flat);
    EXPECT_EQ(flat->energy, 2066);
}

} // namespace
} // namespace ferrow::router
