// The service as a process: its standard input and output through pipes.
#include <string>

#include <gtest/gtest.h>

#include "service/RouterProcess.h"

using ferrow::service::testing::ProcessResult;
using ferrow::service::testing::RouterProcess;
using ferrow::service::testing::serve;

TEST(ServiceProcess, UsageWithoutArgument) {
    const ProcessResult run = serve("1\tprofile=x\n", {});
    EXPECT_EQ(run.output, "usage: trevassa-router <segmentDir>\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(ServiceProcess, ReadyThenQuit) {
    EXPECT_EQ(serve("quit\n").output, "ready\n");
    EXPECT_EQ(serve("quit\r\n").output, "ready\n");
    EXPECT_EQ(serve("quit\n7\tlonlats=1,2\n").output, "ready\n");
    const ProcessResult run = serve("quit\r\n", {"demo", "ignored", "args"});
    EXPECT_EQ(run.output, "ready\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(ServiceProcess, EndOfInputEndsTheService) {
    const ProcessResult run = serve("");
    EXPECT_EQ(run.output, "ready\n");
    EXPECT_EQ(run.exitStatus, 0);
    // A last line without line feed is still answered; one ending in CR keeps it.
    EXPECT_EQ(serve("7\tlonlats=1,2").output, "ready\n7\t0\tprofile parameter not set\n");
    EXPECT_EQ(serve("quit\r").output, "ready\n");
}

TEST(ServiceProcess, LinesWithoutTabAreIgnored) { EXPECT_EQ(serve("hello\n\n quit\nQUIT\nquit \n").output, "ready\n"); }

TEST(ServiceProcess, RequestAnswers) {
    const ProcessResult run = serve(
        "7\tlonlats=1,2\n"
        "\tlonlats=1,2\n"
        "id with spaces äöü\tfoo=bar\r\n"
        "2\tprofile=%G1\n"
        "3\tprofile=profiles/car.vpf&lonlats=8.0,50.0;8.01,50.01\n"
        "quit\n");
    EXPECT_EQ(run.output,
              "ready\n"
              "7\t0\tprofile parameter not set\n"
              "\t0\tprofile parameter not set\n"
              "id with spaces äöü\t0\tprofile parameter not set\n"
              "2\t0\tURLDecoder: Illegal hex characters in escape (%) pattern\n"
              "3\t0\tdatafile E5_N50.rd5 not found\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(ServiceProcess, EachAnswerIsFlushedBeforeTheNextRequest) {
    RouterProcess process({"demo"});
    EXPECT_EQ(process.readLines(1), "ready\n");
    process.write("a\tlonlats=1\n");
    EXPECT_EQ(process.readLines(1), "a\t0\tprofile parameter not set\n");
    process.write("b\tx=%\n");
    EXPECT_EQ(process.readLines(1), "b\t0\tURLDecoder: Incomplete trailing escape (%) pattern\n");
    process.write("quit\n");
    const ProcessResult run = process.finish();
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.exitStatus, 0);
}
