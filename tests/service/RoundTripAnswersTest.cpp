// Round trips answered by the service as a process, on a small written
// network whose roads run through the round trip's points.
#include <string>

#include <gtest/gtest.h>

#include "service/RouterProcess.h"
#include "testsupport/ProfileFiles.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"

namespace ferrow::service::testing {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

const std::string kProfile =
    "---context:global\n"
    "assign validForCars true\n"
    "---context:way\n"
    "assign costfactor switch highway=residential 1 10000\n"
    "assign turncost 0\n"
    "---context:node\n"
    "assign initialcost 0\n";

// From S (8 E, 50.5 N) a round trip of radius 1000 m heading north with
// three points has its via points on the bearings -30 and 30: 500.0 m west
// or east (7054 grid units of 0.0708769 m) and 866.0 m north (7785 units of
// 0.1112400 m). Streets run S - A - B - S through them, 1000 m each, and a
// street S - N to the point 1000 m north (8990 units).
class RoundTrips : public ::testing::Test {
protected:
    void SetUp() override {
        TestNetwork net;
        const NodeRef s = net.gridNode(188000000, 140500000);
        const NodeRef a = net.gridNode(187992946, 140507785);
        const NodeRef b = net.gridNode(188007054, 140507785);
        net.way("highway=residential", {s, a, b, s});
        net.way("highway=residential", {s, net.gridNode(188000000, 140508990)});
        testsupport::SegmentWriter().write(net, segments.path());
    }

    std::string answer(const std::string& query) {
        const ProcessResult run = serve("1\tprofile=" + profile + "&" + query + "\nquit\n", {segments.path()});
        return run.output;
    }

    testsupport::TempDirectory segments;
    router::testing::ProfileDir profiles;
    const std::string profile = profiles.write("test.vpf", kProfile);
};

TEST_F(RoundTrips, AroundTheHalfCircle) {
    const std::string line =
        answer("lonlats=8.0,50.5&engineMode=4&direction=0&roundTripDistance=1000&roundTripPoints=3");
    EXPECT_EQ(line.rfind("ready\n1\t1\t", 0), 0u) << line;
    EXPECT_NE(line.find("\"track-length\":\"3000\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"coordinates\":[[8.000000,50.500000],[7.992946,50.507785],[8.007054,50.507785],"
                        "[8.000000,50.500000]]"),
              std::string::npos)
        << line;
}

TEST_F(RoundTrips, OutAndBackTheSameWay) {
    const std::string line =
        answer("lonlats=8.0,50.5&engineMode=4&heading=0&roundTripDistance=1000&allowSamewayback=1");
    EXPECT_EQ(line.rfind("ready\n1\t1\t", 0), 0u) << line;
    EXPECT_NE(line.find("\"track-length\":\"2000\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"coordinates\":[[8.000000,50.500000],[8.000000,50.508990],[8.000000,50.500000]]"),
              std::string::npos)
        << line;
}

TEST_F(RoundTrips, ErrorsOfTheRoundTrip) {
    // Without a direction the forest flag asks for the area scan, whose
    // profile is missing here; a radius reaching past the pole is refused.
    EXPECT_EQ(answer("lonlats=8.0,50.5&engineMode=4&profile:consider_forest=1"),
              "ready\n1\t0\tprofile dummy.vpf does not exist\n");
    EXPECT_EQ(answer("lonlats=8.0,89.9995&engineMode=4&direction=0&roundTripDistance=1000"),
              "ready\n1\t0\tround trip point rt1 lies outside the world\n");
    EXPECT_EQ(answer("lonlats=8.0,50.5&engineMode=4&roundTripDistance=-100001"),
              "ready\n1\t0\troundTripDistance must lie between -100000 and 100000 metres\n");
}

TEST_F(RoundTrips, ANegativeRadiusMirrorsTheHalfCircle) {
    EXPECT_EQ(answer("lonlats=8.0,50.5&engineMode=4&direction=180&roundTripDistance=-1000&roundTripPoints=3"),
              answer("lonlats=8.0,50.5&engineMode=4&direction=0&roundTripDistance=1000&roundTripPoints=3"));
}

TEST_F(RoundTrips, PointsBeyondTheDateLineHaveNoDataFile) {
    TestNetwork net;
    net.way("highway=residential", {net.node(179.998, 50.5), net.node(179.9995, 50.5)});
    testsupport::SegmentWriter().write(net, segments.path());
    EXPECT_EQ(answer("lonlats=179.9995,50.5&engineMode=4&direction=90&roundTripDistance=1000"),
              "ready\n1\t0\tdatafile E180_N50.rd5 not found\n");
}

} // namespace
} // namespace ferrow::service::testing
