// Every answer a request's parameters and profile can lead to before the
// routing run, through the service as a process.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "service/RouterProcess.h"
#include "testsupport/ProfileFiles.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestPlatform.h"

using ferrow::router::testing::ProfileDir;
using ferrow::router::testing::profileText;
using ferrow::router::testing::readRepositoryFile;
using ferrow::service::testing::RouterProcess;
using ferrow::service::testing::serve;
using ferrow::testsupport::makeFifo;
using ferrow::testsupport::TempDirectory;

namespace {

// The answer line of a single request with identifier 1.
std::string answerTo(const std::string& query) {
    const std::string output = serve("1\t" + query + "\nquit\n").output;
    const std::string ready = "ready\n";
    return output.rfind(ready, 0) == 0 ? output.substr(ready.size()) : "<unexpected> " + output;
}

const std::string kCar = "profile=profiles/car.vpf";
// The segment directory holds no segment files: a valid request reaches the
// engine, which finds no data for its waypoints.
const std::string kNoData = "1\t0\tdatafile E5_N45.rd5 not found\n";

} // namespace

TEST(RequestErrors, Waypoints) {
    EXPECT_EQ(answerTo(kCar), "1\t0\tlonlats parameter not set\n");
    EXPECT_EQ(answerTo(kCar + "&lonlats=8.1"), "1\t0\twe need one lat/lon point at least!\n");
    EXPECT_EQ(answerTo(kCar + "&lonlats=%3B%7C"), "1\t0\twe need one lat/lon point at least!\n");
    EXPECT_EQ(answerTo(kCar + "&lonlats=8.1,49.2|8.3"), "1\t0\tIndexOutOfBoundsException\n");
    EXPECT_EQ(answerTo(kCar + "&lonlats=8.1,north"), "1\t0\tFor input string: \"north\"\n");
    EXPECT_EQ(answerTo(kCar + "&lonlats=8.1,90"), "1\t0\tlon/lat out of range: 8.1,90\n");
    // Any other waypoint is looked for in its segment file.
    EXPECT_EQ(answerTo(kCar + "&lonlats=200,49.2|8.3,49.4"), "1\t0\tdatafile E200_N45.rd5 not found\n");
    EXPECT_EQ(answerTo(kCar + "&lonlats=NaN,NaN|8.3,49.4"), "1\t0\tdatafile W180_S90.rd5 not found\n");
}

TEST(RequestErrors, TextsWithNulCharactersStayWhole) {
    using namespace std::string_literals;
    EXPECT_EQ(answerTo(kCar + "&lonlats=%00,47.519;10.012,47.527"), "1\t0\tFor input string: \"\0\"\n"s);
    // A profile path with NUL names a file that does not exist.
    EXPECT_EQ(answerTo("profile=profiles/car.vpf%00x&lonlats=8,49"), "1\t0\tprofile car.vpf\0x does not exist\n"s);
}

TEST(RequestErrors, EngineMode) {
    const std::string route = kCar + "&lonlats=8.1,49.2|8.3,49.4";
    EXPECT_EQ(answerTo(route + "&engineMode=x"), "1\t0\tNumberFormatException\n");
    EXPECT_EQ(answerTo(route + "&engineMode=1.0"), "1\t0\tNumberFormatException\n");
    EXPECT_EQ(answerTo(route + "&engineMode=%2B2"), kNoData);                         // point information
    EXPECT_EQ(answerTo(route + "&engineMode=-7"), "1\t0\tnot a valid engine mode\n"); // the engine checks the mode
}

TEST(RequestErrors, Parameters) {
    const std::string route = kCar + "&lonlats=8.1,49.2|8.3,49.4";
    EXPECT_EQ(answerTo(route + "&straight=-1"), "1\t0\tindex: -1, size: 2\n");
    EXPECT_EQ(answerTo(route + "&straight=first"), "1\t0\tFor input string: \"first\"\n");
    EXPECT_EQ(answerTo(route + "&nogos=8.2,49.3"), "1\t0\tIndexOutOfBoundsException\n");
    EXPECT_EQ(answerTo(route + "&nogoLons=8.2&nogoLats=49.3&nogoRadi=ten"), "1\t0\tFor input string: \"ten\"\n");
    EXPECT_EQ(answerTo(route + "&heading=north"), "1\t0\tFor input string: \"north\"\n");
    EXPECT_EQ(answerTo(route + "&roundTripDistance=2e3"), "1\t0\tFor input string: \"2e3\"\n");
    EXPECT_EQ(answerTo(route + "&format=gpx&profile%3Aavoid_toll=yes"),
              "1\t0\tParseException car.vpf at line 1: For input string: \"yes\"\n");
}

TEST(RequestErrors, ErrorsComeInRequestOrder) {
    // profile, then waypoints, then engine mode, then the other parameters,
    // then the profile file
    EXPECT_EQ(answerTo("lonlats=x&engineMode=x"), "1\t0\tprofile parameter not set\n");
    EXPECT_EQ(answerTo("profile=absent.vpf&engineMode=x"), "1\t0\tlonlats parameter not set\n");
    EXPECT_EQ(answerTo("profile=absent.vpf&lonlats=8,49&straight=-1&engineMode=x"), "1\t0\tNumberFormatException\n");
    EXPECT_EQ(answerTo("profile=profiles/absent.vpf&lonlats=8,49&straight=-1"), "1\t0\tindex: -1, size: 1\n");
}

TEST(RequestErrors, ProfileLoading) {
    EXPECT_EQ(answerTo("profile=profiles/absent.vpf&lonlats=8,49"), "1\t0\tprofile absent.vpf does not exist\n");
    // A bare file name looks for the lookup table in the working directory.
    EXPECT_EQ(answerTo("profile=car.vpf&lonlats=8,49"),
              "1\t0\tFileNotFoundException: ./lookups.dat (No such file or directory)\n");

    ProfileDir dir;
    const std::string typo = dir.write("typo.vpf", "---model:ferrow.router.StdMdl\n" + profileText(""));
    EXPECT_EQ(answerTo("profile=" + typo + "&lonlats=8,49"),
              "1\t0\tCannot create path-model: java.lang.ClassNotFoundException: ferrow.router.StdMdl\n");
    const std::string kinematic =
        dir.write("kin.vpf", "---model:ferrow.router.KinematicNoCostModel\n" + profileText(""));
    EXPECT_EQ(answerTo("profile=" + kinematic + "&lonlats=8,49"), "1\t0\twe need two lat/lon points at least!\n");
}

TEST(RequestErrors, ValidRequestsReachTheEngine) {
    EXPECT_EQ(answerTo(kCar + "&lonlats=8.1,49.2|8.3,49.4&nogos=8.2,49.3,50,10|8.25,49.3,20&"
                              "polygons=8.1,49.1,8.2,49.1,8.2,49.2,5&polylines=8.1,49.1,8.2,49.2&straight=1&"
                              "pois=8.1,49.2,Caf%C3%A9&heading=90&alternativeidx=1&timode=2&format=geojson&"
                              "profile:avoid_toll=1&nogoLons=8.1&nogoLats=49.2&nogoRadi=100"),
              kNoData);
    EXPECT_EQ(answerTo("profile=profiles/bike.vpf&lonlats=8.1,49.2"), "1\t0\twe need two lat/lon points at least!\n");
    EXPECT_EQ(answerTo("profile=profiles/foot.vpf&lonlats=8.1,49.2|8.3,49.4&profile:allow_steps=0"), kNoData);
    // Several requests in one process, the second reusing the cached profile.
    const std::string route = kCar + "&lonlats=8.1,49.2|8.3,49.4";
    EXPECT_EQ(serve("a\t" + route + "\nb\t" + route + "\nc\t" + route + "&profile:avoid_toll=1\n").output,
              "ready\na\t0\tdatafile E5_N45.rd5 not found\nb\t0\tdatafile E5_N45.rd5 not found\n"
              "c\t0\tdatafile E5_N45.rd5 not found\n");
}

// A FIFO where a segment file, a profile or the lookup table should be would
// keep the service waiting for a writer: it is a file that cannot be read, at once.
TEST(RequestErrors, NamedPipesAreNoFilesToRead) {
    TempDirectory segments;
    makeFifo(segments.file("E5_N45.rd5"));
    TempDirectory profiles;
    makeFifo(profiles.file("fifo.vpf"));
    std::ofstream(profiles.file("lookups.dat"), std::ios::binary) << readRepositoryFile("profiles/lookups.dat");
    TempDirectory pipedLookups;
    makeFifo(pipedLookups.file("lookups.dat"));
    std::ofstream(pipedLookups.file("car.vpf"), std::ios::binary) << readRepositoryFile("profiles/car.vpf");

    RouterProcess process({segments.path()});
    const std::string waypoints = "&lonlats=8.1,49.2|8.3,49.4\n";
    process.write("1\t" + kCar + waypoints + "2\tprofile=" + profiles.file("fifo.vpf") + waypoints +
                  "3\tprofile=" + pipedLookups.file("car.vpf") + waypoints);
    EXPECT_EQ(process.readLines(4, 10000),
              "ready\n1\t0\t" + segments.file("E5_N45.rd5") + " (Not a regular file)\n" +
                  "2\t0\tIOException: " + profiles.file("fifo.vpf") + " (Not a regular file)\n" +
                  "3\t0\tIOException: " + pipedLookups.file("lookups.dat") + " (Not a regular file)\n");
}
