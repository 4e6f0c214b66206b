// Many mixed requests in one process on the demo data set: a repeated request
// gets the same answer, and the process's memory stops growing. (A longer run
// with more requests of every kind: bench/soak.py.)
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/RouterProcess.h"
#include "testsupport/TestPlatform.h"

namespace ferrow::service::testing {
namespace {

// Routes of two and three waypoints with each profile, alternatives, no-go
// circles, straight legs, point information and two requests that fail.
const std::vector<std::string> kRequests = {
    "profile=profiles/car.vpf&lonlats=9.983579,47.501839;10.003345,47.514397;9.988764,47.508994",
    "profile=profiles/bike.vpf&lonlats=9.958800,47.522683;9.965837,47.511953&alternativeidx=2",
    "profile=profiles/foot.vpf&lonlats=9.959905,47.498324;10.018920,47.505089&nogos=9.989412,47.501707,100",
    "profile=profiles/car.vpf&lonlats=10.011878,47.548418&engineMode=3",
    "profile=profiles/bike.vpf&lonlats=10.044393,47.495744,d;10.019250,47.503235",
    "profile=profiles/foot.vpf&lonlats=9.970240,47.527018;10.024532,47.537431&engineMode=1",
    "profile=profiles/car.vpf&lonlats=10.016816,47.518016",
    "profile=profiles/bike.vpf&lonlats=9.995636,47.510544;9.984331,47.495425",
    "profile=profiles/foot.vpf&lonlats=10.002349,47.544176;10.006600,47.502838",
    "profile=profiles/car.vpf&lonlats=9.957048,47.532081;9.970389,47.528266",
    "profile=profiles/bike.vpf&lonlats=10.018204,47.527764;10.031689,47.548241;10.028421,47.503327",
    "profile=profiles/foot.vpf&lonlats=9.997586,47.531843;10.010568,47.496121&alternativeidx=3",
    "profile=profiles/car.vpf&lonlats=9.969058,47.499866;9.964387,47.500229&nogos=9.966723,47.500048,100",
    "profile=profiles/bike.vpf&lonlats=9.965450,47.507495&engineMode=2",
    "profile=profiles/foot.vpf&lonlats=9.953775,47.517510;10.008630,47.540275",
    "profile=profiles/car.vpf&lonlats=9.985091,47.496095;9.988344,47.497664",
    "profile=profiles/bike.vpf&lonlats=9.962851,47.514276;9.994092,47.529900",
};
constexpr int kRounds = 4;

TEST(DemoRequests, RepeatedRequestsGetTheSameAnswers) {
    RouterProcess process({FERROW_DEMO_SEGMENTS});
    ASSERT_EQ(process.readLines(1), "ready\n");
    // Straight-line legs are numbered process-wide.
    const std::regex directSegment("direct_segment=[0-9]+");
    std::map<std::string, std::string> first;
    std::vector<long> memory;
    int routes = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string& query : kRequests) {
            process.write("r\t" + query + "\n");
            const std::string line = std::regex_replace(process.readLines(1, 120000), directSegment, "#");
            ASSERT_EQ(line.rfind("r\t", 0), 0u) << query;
            if (round == 0) {
                first[query] = line;
                routes += line.rfind("r\t1\t", 0) == 0 ? 1 : 0;
            } else {
                EXPECT_EQ(line, first[query]) << query;
            }
        }
        memory.push_back(testsupport::residentKib(process.pid()));
    }
    EXPECT_EQ(routes, 15); // all but the wrong mode and the single waypoint
    EXPECT_NE(first[kRequests[5]].find("not a valid engine mode"), std::string::npos);
    EXPECT_NE(first[kRequests[6]].find("we need two lat/lon points at least!"), std::string::npos);
    std::ostringstream report;
    for (const long kib : memory) report << kib << " ";
    RecordProperty("resident_kib_after_each_round", report.str());
#ifndef FERROW_SANITIZED
    // The sanitizer's allocator holds freed memory back; elsewhere, once every
    // kind of request has run, further rounds take no more memory.
    EXPECT_LT(memory.back() - memory[1], 8192) << report.str();
#endif
    process.write("quit\n");
    EXPECT_EQ(process.finish().exitStatus, 0);
}

// No-go areas and points of interest far off the map, even beyond the world's
// edges or with NaN positions, leave a route as it is.
TEST(DemoRequests, FarAwayAreasChangeNothing) {
    const std::string route = "profile=profiles/car.vpf&lonlats=9.99,47.519;10.012,47.527";
    const std::vector<std::string> far = {"&nogos=10.0,95,50", "&nogos=NaN,NaN,50", "&pois=10.0,95,Cafe",
                                          "&polygons=179.9,10,180.1,10,180,10.1"};
    std::string input = "0\t" + route + "\n";
    for (std::size_t i = 0; i < far.size(); ++i) input += std::to_string(i + 1) + "\t" + route + far[i] + "\n";
    std::istringstream lines(serve(input + "quit\n", {FERROW_DEMO_SEGMENTS}).output);
    std::string line;
    std::getline(lines, line);
    ASSERT_EQ(line, "ready");
    std::getline(lines, line);
    const std::string plain = line.substr(1);
    ASSERT_EQ(plain.rfind("\t1\t{", 0), 0u) << line;
    for (std::size_t i = 0; i < far.size(); ++i) {
        std::getline(lines, line);
        // The point of interest is not part of the route answer.
        EXPECT_EQ(line.substr(1), plain) << far[i];
    }
}

} // namespace
} // namespace ferrow::service::testing
