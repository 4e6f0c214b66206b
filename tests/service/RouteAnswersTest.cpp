// Whole route answers of the service as a process, on small networks written
// as segment files; the answers are worked out by hand from the networks.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/RouterProcess.h"
#include "testsupport/OddSites.h"
#include "testsupport/ProfileFiles.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"

namespace ferrow::service::testing {
namespace {

using router::testing::ProfileDir;
using testsupport::NodeRef;
using testsupport::TestNetwork;

// Residential streets cost 1 per metre, tracks 1.5; no turn, node or
// elevation costs. The car's default speed, 45 km/h, gives the times.
const std::string kProfile =
    "---context:global\n"
    "assign validForCars true\n"
    "---context:way\n"
    "assign costfactor switch highway=residential 1 switch highway=track 1.5 10000\n"
    "assign turncost 0\n"
    "---context:node\n"
    "assign initialcost 0\n";

class RouteAnswers : public ::testing::Test {
protected:
    void write(const TestNetwork& network) { testsupport::SegmentWriter().write(network, segments.path()); }

    // The answer lines (without "ready") of the requests, each given as a
    // query after "profile=<test profile>&".
    std::string answers(const std::vector<std::string>& queries, const std::string& profilePath = "") {
        std::string input;
        for (std::size_t i = 0; i < queries.size(); ++i) {
            input += std::to_string(i + 1) + "\tprofile=" + (profilePath.empty() ? profile : profilePath) + "&" +
                     queries[i] + "\n";
        }
        const ProcessResult run = serve(input + "quit\n", {segments.path()});
        const std::string ready = "ready\n";
        return run.output.rfind(ready, 0) == 0 ? run.output.substr(ready.size()) : "<unexpected> " + run.output;
    }

    std::string answer(const std::string& query, const std::string& profilePath = "") {
        return answers({query}, profilePath);
    }

    // A route answer line: the totals in answer order (length, filtered and
    // plain ascent, time, energy, cost), the message rows after the header and
    // the coordinates.
    static std::string route(int id, const std::vector<int>& totals, const std::vector<std::string>& rows,
                             const std::string& coordinates) {
        static const char* names[] = {"track-length", "filtered ascend", "plain-ascend",
                                      "total-time",   "total-energy",    "cost"};
        std::string line = std::to_string(id) +
                           "\t1\t{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":{";
        for (std::size_t i = 0; i < totals.size(); ++i) {
            line += "\"" + std::string(names[i]) + "\":\"" + std::to_string(totals[i]) + "\",";
        }
        line +=
            "\"messages\":[[\"Longitude\",\"Latitude\",\"Elevation\",\"Distance\",\"CostPerKm\",\"ElevCost\","
            "\"TurnCost\",\"NodeCost\",\"InitialCost\",\"WayTags\",\"NodeTags\",\"Time\",\"Energy\"]";
        for (const std::string& row : rows) line += "," + row;
        line += "]},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[" + coordinates + "]}}]}\n";
        return line;
    }

    testsupport::TempDirectory segments;
    ProfileDir profiles;
    const std::string profile = profiles.write("test.vpf", kProfile);
};

// A street north from A (8 E, 50.5 N, 100 m) over B (102 m) to C (101 m).
// 0.001 degrees of latitude are 111.24 m here, 111 m between the nodes;
// 0.001 degrees of longitude are 70.88 m.
class Street : public RouteAnswers {
protected:
    void SetUp() override {
        TestNetwork net;
        const NodeRef a = net.node(8.0, 50.500).elevation(100.0);
        const NodeRef b = net.node(8.0, 50.501).elevation(102.0);
        const NodeRef c = net.node(8.0, 50.502).elevation(101.0);
        net.way("highway=residential", {a, b, c});
        write(net);
    }

    const std::string streetCoordinates =
        "[8.000000,50.500000,100.0],[8.000000,50.501000,102.0],"
        "[8.000000,50.502000,101.0]";
};

TEST_F(Street, TwoWaypoints) {
    // 222 m at 12.5 m/s: 17.76 s. Energy per section: 111 m x (rolling
    // 90 x 9.81 x (incline + 0.01) + air 0.225 x 12.5^2), the incline being
    // the climb less what the elevation buffer keeps (e^-1.11 of it): 6066 J
    // up the 2 m to B, 10746 J at C. Ascent: 2 m up, then 1 m down kept in
    // the buffer; plain ascent 1.5 truncated.
    EXPECT_EQ(
        answer("lonlats=8.0,50.5;8.0,50.502"),
        route(1, {222, 2, 1, 18, 10746, 222},
              {R"(["8000000","50502000","101","222","1000","0","0","0","0","highway=residential","","17","10746"])"},
              streetCoordinates));
}

TEST_F(Street, ThreeWaypoints) {
    // Two legs, A to B (111, 6066 J, 8.88 s) and B to C; the second starts on
    // the segment from A, caught at B: a piece of 1 m carrying the climb from
    // A, then 111 m (112, 5524 J, 8.96 s). One row for the one street.
    EXPECT_EQ(
        answer("lonlats=8.0,50.5;8.0,50.501;8.0,50.502"),
        route(1, {222, 2, 1, 18, 11590, 223},
              {R"(["8000000","50502000","101","222","1000","0","0","0","0","highway=residential","","17","11590"])"},
              streetCoordinates));
}

TEST_F(Street, StraightLeg) {
    // A to C, then a straight 71 m east to X, which takes C's elevation. The
    // straight section is timed at the slowest speed, 45 km/h: 1 s + 5.68 s,
    // and its energy is (8.829 + 35.15625) x 71 = 3122.95 J.
    EXPECT_EQ(
        answer("lonlats=8.0,50.5;8.0,50.502,d;8.001,50.502"),
        route(1, {293, 2, 1, 24, 13869, 222},
              {R"(["8000000","50502000","101","222","1000","0","0","0","0","highway=residential","","17","10746"])",
               R"(["8001000","50502000","-8192","71","0","0","0","0","0","direct_segment=1","","24","13869"])"},
              streetCoordinates + ",[8.001000,50.502000,101.0]"));
}

TEST_F(Street, PointInformation) {
    // The matched segment from A to B as found by the search, without the
    // totals of a route.
    const std::string info =
        route(0, {111, 0, 0, 9, 6066, 111},
              {R"(["8000000","50501000","102","111","1000","0","0","0","0","highway=residential","","8","6066"])"},
              "[8.000000,50.500000,100.0],[8.000000,50.501000,102.0]");
    EXPECT_EQ(answers({"lonlats=8.0,50.5005&engineMode=2", "lonlats=8.0,50.5005&engineMode=3"}),
              "1" + info.substr(1) + "2" + info.substr(1));
}

TEST_F(Street, ErrorsOfTheRun) {
    EXPECT_EQ(answers({"lonlats=8.0,50.5", "lonlats=8.0,50.5;8.0,50.502&engineMode=1",
                       "lonlats=8.0,50.5&engineMode=4&roundTripDistance=100001",
                       "lonlats=8.0,50.5;8.0,50.52&profile:use_dynamic_range=0", "lonlats=8.0,50.5;12.5,50.5",
                       "lonlats=8.0,50.5;8.0,50.502&profile:pass1coefficient=-1&profile:pass2coefficient=-1",
                       "lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.502,30"}),
              "1\t0\twe need two lat/lon points at least!\n"
              "2\t0\tnot a valid engine mode\n"
              "3\t0\troundTripDistance must lie between -100000 and 100000 metres\n"
              "4\t0\tto-position not mapped in existing datafile\n"
              "5\t0\tdatafile E10_N50.rd5 not found\n"
              "6\t0\tno track found\n"
              "7\t0\tlast wpt in restricted area \n");
}

// Only the segment file E5_N50.rd5 exists; a street runs along its southern
// edge, 50.0 N, from 8.0 to 8.01 E.
class FileEdge : public RouteAnswers {
protected:
    void SetUp() override {
        TestNetwork net;
        net.way("highway=residential", {net.node(8.0, 50.0), net.node(8.005, 50.0), net.node(8.01, 50.0)});
        write(net);
    }
};

TEST_F(FileEdge, OnlyAWaypointsOwnSquareCanMissItsFile) {
    // The first waypoint lies 333 m from the street: the rings around it
    // reach the squares south of the edge, which have no file. The second
    // lies in such a square, 55 m from the street.
    const std::string across = answer("lonlats=8.002,50.003;8.001,49.9995");
    EXPECT_EQ(across.substr(0, 4), "1\t1\t") << across;
    // The second waypoint's rings are the first to reach those squares.
    const std::string rings = answer("lonlats=8.009,50.0002;8.002,50.003");
    EXPECT_EQ(rings.substr(0, 4), "1\t1\t") << rings;
    // A waypoint whose own square is looked at first and has no file.
    EXPECT_EQ(answer("lonlats=8.001,49.9995;8.002,50.003"), "1\t0\tdatafile E5_N45.rd5 not found\n");
}

// A street S - M - T north, 222 m, and a detour S - D1 - D2 - T 106 m to the
// east of it, 434 m; no elevations.
class Detour : public RouteAnswers {
protected:
    void SetUp() override {
        TestNetwork net;
        const NodeRef s = net.node(8.0, 50.500);
        const NodeRef t = net.node(8.0, 50.502);
        net.way("highway=residential", {s, net.node(8.0, 50.501), t});
        net.way("highway=residential", {s, net.node(8.0015, 50.500), net.node(8.0015, 50.502), t});
        write(net);
    }
};

TEST_F(Detour, NogoCircleForcesTheDetour) {
    // 106 + 222 + 106 m at 12.5 m/s, 43.98525 J per flat metre. The start is
    // matched to the street, so the route begins with the street's segment
    // caught at S (a 1 m piece, travelled against the way's direction: a row
    // of its own) and ends caught at T on the street's segment (1 more).
    const std::string detour = route(
        1, {434, 0, 0, 35, 19133, 436},
        {R"(["8000000","50500000","-8192","0","1000","0","0","0","0","reversedirection=yes highway=residential","","0","43"])",
         R"(["8000000","50502000","-8192","434","1000","0","0","0","0","highway=residential","","34","19133"])"},
        "[8.000000,50.500000],[8.001500,50.500000],[8.001500,50.502000],[8.000000,50.502000]");
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30"), detour);
    // A via point inside the area is dropped: the same route.
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.501;8.0,50.502&nogos=8.0,50.501,30"), detour);
    // A penalty area is crossed when the detour costs more.
    EXPECT_EQ(
        answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30,0.1"),
        route(1, {222, 0, 0, 18, 9764, 228},
              {R"(["8000000","50502000","-8192","222","1000","0","0","0","0","highway=residential","","17","9764"])"},
              "[8.000000,50.500000],[8.000000,50.501000],[8.000000,50.502000]"));
}

TEST_F(Detour, InfiniteWeightsMakeTheAreaImpassable) {
    const std::string detour = answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30");
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30,Infinity"), detour);
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30,1e400"), detour);
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30,-Infinity"), detour);
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&polygons=7.999,50.5008,8.001,50.5008,8.001,50.5012,"
                     "7.999,50.5012,Infinity"),
              detour);
}

TEST_F(Detour, PassOneAloneFindsTheSameRoute) {
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&profile:pass1coefficient=-1"), answer("lonlats=8.0,50.5;8.0,50.502"));
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30&profile:pass1coefficient=-1"),
              answer("lonlats=8.0,50.5;8.0,50.502&nogos=8.0,50.501,30"));
}

// Profiles nested far deeper than any written by hand: a way cost chosen by
// a chain of 20000 cases parses and evaluates on the request's worker.
TEST_F(Street, DeeplyNestedProfiles) {
    const auto chain = [](int depth) {
        std::string text = "---context:global\nassign validForCars true\n---context:way\nassign costfactor ";
        for (int i = 0; i < depth; ++i) text += "switch highway=motorway 5 ";
        return text + "1\nassign turncost 0\n---context:node\nassign initialcost 0\n";
    };
    const std::string plain = answer("lonlats=8.0,50.5;8.0,50.502");
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502", profiles.write("deep.vpf", chain(20000))), plain);
#ifndef FERROW_SANITIZED
    // (AddressSanitizer cannot follow an exception thrown 120 MiB down the stack.)
    EXPECT_EQ(answer("lonlats=8.0,50.5;8.0,50.502", profiles.write("deeper.vpf", chain(50001))),
              "1\t0\tParseException deeper.vpf at line 4: expression nested deeper than 50000 levels\n");
#endif
}

// Four ways between A and C: a track straight across (716 m, cost 1074) and
// streets 111 m north (938), 167 m south (1050) and 222 m north (1160). Each
// alternative charges the links of the routes before it once more.
TEST_F(RouteAnswers, AlternativesDifferFromTheFirstRoute) {
    TestNetwork net;
    const NodeRef a = net.node(8.000, 50.5);
    const NodeRef c = net.node(8.010, 50.5);
    net.way("highway=residential", {net.node(7.995, 50.5), a});
    net.way("highway=residential", {c, net.node(8.015, 50.5), net.node(8.020, 50.5)});
    net.way("highway=track", {a, net.node(8.005, 50.5), c});
    for (const double lat : {50.501, 50.4985, 50.502}) {
        net.way("highway=residential", {a, net.node(8.000, lat), net.node(8.010, lat), c});
    }
    write(net);
    const std::string route = "lonlats=7.9975,50.5;8.0175,50.5&alternativeidx=";
    std::string lines = answers({route + "0", route + "1", route + "2", route + "3"});
    std::vector<std::string> geometries;
    for (std::size_t start = 0; start < lines.size();) {
        const std::size_t end = lines.find('\n', start);
        const std::string line = lines.substr(start, end - start);
        EXPECT_EQ(line.substr(1, 3), "\t1\t") << line;
        geometries.push_back(line.substr(line.find("\"coordinates\"")));
        start = end + 1;
    }
    ASSERT_EQ(geometries.size(), 4u);
    // Through 111 m north, 167 m south, straight across, 222 m north.
    EXPECT_NE(geometries[0].find("[8.000000,50.501000]"), std::string::npos);
    EXPECT_NE(geometries[1].find("[8.000000,50.498500]"), std::string::npos);
    EXPECT_NE(geometries[2].find("[8.005000,50.500000]"), std::string::npos);
    EXPECT_NE(geometries[3].find("[8.000000,50.502000]"), std::string::npos);
    for (std::size_t i = 1; i < geometries.size(); ++i) EXPECT_NE(geometries[i], geometries[0]) << i;
}

// A street 150 m south of the target, and short ways beside the target that
// lead nowhere.
TEST_F(RouteAnswers, Islands) {
    const auto islands = [this](int count) {
        TestNetwork net;
        net.way("highway=residential", {net.node(7.995, 50.5), net.node(8.000, 50.5), net.node(8.005, 50.5)});
        for (int k = 1; k <= count; ++k) {
            const double lon = 8.0 + 0.0002 * k;
            net.way("highway=residential", {net.node(lon, 50.50125), net.node(lon, 50.50145)});
        }
        write(net);
    };
    // One island: it is left, the target goes to the street.
    islands(1);
    const std::string one = answer("lonlats=7.9975,50.5;8.0,50.50135");
    EXPECT_NE(one.find("[8.000000,50.500000]]}}]}\n"), std::string::npos) << one;
    // Six: after five retries the island is reported.
    islands(6);
    EXPECT_EQ(answer("lonlats=7.9975,50.5;8.0,50.50135"), "1\t0\ttarget island detected for section 0\n");
}

// The positions (lon,lat without elevation) of an answer's coordinates, or
// the whole line when it holds no route.
std::vector<std::string> positionsOf(const std::string& line) {
    const std::string key = "\"coordinates\":[";
    const std::size_t begin = line.find(key);
    if (begin == std::string::npos) return {line};
    std::vector<std::string> positions;
    for (std::size_t at = line.find('[', begin + key.size()); at != std::string::npos; at = line.find('[', at + 1)) {
        const std::size_t lat = line.find(',', at);
        positions.push_back(line.substr(at + 1, line.find(',', lat + 1) - at - 1));
    }
    return positions;
}

// Two ways between the same two nodes W and E, bending south and north: a
// point on one of them lies on its own segment, and is reached by a route
// from either node, from the other way, and by point information.
TEST_F(RouteAnswers, TwoWaysBetweenTheSameNodesAreTwoSegments) {
    testsupport::oddsites::writer().write(testsupport::oddsites::build(), segments.path());
    const std::string south = "8.0425,50.0097";
    const std::vector<std::string> requests{
        "profile=profiles/car.vpf&lonlats=8.045,50.010;" + south,
        "profile=profiles/foot.vpf&lonlats=8.040,50.010;" + south,
        "profile=profiles/car.vpf&lonlats=" + south + ";8.045,50.010",
        "profile=profiles/foot.vpf&lonlats=8.043,50.0103;" + south,
        "profile=profiles/bike.vpf&lonlats=8.0425,50.00968&engineMode=3",
        "profile=profiles/bike.vpf&lonlats=8.0425,50.01032&engineMode=2",
    };
    std::string input;
    for (std::size_t i = 0; i < requests.size(); ++i) input += std::to_string(i + 1) + "\t" + requests[i] + "\n";
    std::istringstream lines(serve(input + "quit\n", {segments.path()}).output);
    std::vector<std::string> answers;
    for (std::string line; std::getline(lines, line);) answers.push_back(line);
    ASSERT_EQ(answers.size(), requests.size() + 1);
    using Positions = std::vector<std::string>;
    const std::string e = "8.045000,50.010000", w = "8.040000,50.010000", point = "8.042500,50.009700";
    const std::string southEast = "8.044000,50.009700", southWest = "8.041000,50.009700";
    const std::string northEast = "8.044000,50.010300", northWest = "8.041000,50.010300";
    EXPECT_EQ(positionsOf(answers[1]), (Positions{e, southEast, point}));
    EXPECT_EQ(positionsOf(answers[2]), (Positions{w, southWest, point}));
    EXPECT_EQ(positionsOf(answers[3]), (Positions{point, southEast, e}));
    EXPECT_NE(answers[1].find("\"track-length\":\"186\""), std::string::npos) << answers[1];
    EXPECT_NE(answers[3].find("\"track-length\":\"186\""), std::string::npos) << answers[3];
    // Round the east end from the north way to the south one.
    EXPECT_EQ(positionsOf(answers[4]), (Positions{"8.043000,50.010300", northEast, e, southEast, point}));
    // The segment searched for point information is the way at the point.
    EXPECT_EQ(positionsOf(answers[5]), (Positions{e, southEast, southWest, w}));
    EXPECT_EQ(positionsOf(answers[6]), (Positions{e, northEast, northWest, w}));
}

TEST_F(RouteAnswers, PointInformationUnderANogoAreaIsAnErrorAnswer) {
    testsupport::oddsites::writer().write(testsupport::oddsites::build(), segments.path());
    // The no-go circle closes the matched segment: the search along it dies
    // out, in either mode.
    const std::string info = "profile=profiles/bike.vpf&lonlats=8.0425,50.00968&nogos=8.0425,50.0097,1&engineMode=";
    EXPECT_EQ(serve("1\t" + info + "2\n2\t" + info + "3\nquit\n", {segments.path()}).output,
              "ready\n1\t0\tno track found\n2\t0\tno track found\n");
}

TEST_F(RouteAnswers, AStreetDrawnAsTwoWaysThatMeetAtTwoNodesOfOnePosition) {
    testsupport::oddsites::writer().write(testsupport::oddsites::build(), segments.path());
    // Both nodes there become the search's end node, as if the street were one
    // way: 222 m along it, the second time from the tile decoded before too.
    const std::string route = testsupport::oddsites::SHARED_POSITION_ROUTE_REQUEST;
    std::istringstream lines(serve("1\t" + route + "\n2\t" + route + "\nquit\n", {segments.path()}).output);
    std::string ready, first, second;
    std::getline(lines, ready);
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(first.substr(0, 4), "1\t1\t");
    EXPECT_NE(first.find("\"track-length\":\"222\""), std::string::npos) << first;
    EXPECT_NE(first.find("\"cost\":\"962\""), std::string::npos) << first;
    EXPECT_EQ(second.substr(1), first.substr(1));
}

} // namespace
} // namespace ferrow::service::testing
