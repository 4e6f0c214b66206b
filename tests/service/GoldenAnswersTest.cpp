// The golden answer corpus: request lines over the demo town and a real city
// network, and the answers the service gave them when the corpus was written
// (tests/service/golden/make_corpus.py). Every answer must stay byte-identical.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/RouterProcess.h"

namespace ferrow::service::testing {
namespace {

const std::string kGolden = std::string(FERROW_SOURCE_DIR) + "/tests/service/golden/";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Where two texts part, with a little of each from there.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return "from byte " + std::to_string(at) + ": expected \"" + expected.substr(at, 80) + "\", got \"" +
           actual.substr(at, 80) + "\"";
}

void expectGoldenAnswers(const std::string& set, const std::string& segmentDir) {
    const std::string requests = fileText(kGolden + set + ".requests");
    const std::vector<std::string> expected = linesOf(fileText(kGolden + set + ".answers"));
    ASSERT_FALSE(requests.empty());
    const std::vector<std::string> queries = linesOf(requests);
    ASSERT_EQ(queries.size(), expected.size());

    const ProcessResult run = serve(requests + "quit\n", {segmentDir});
    const std::vector<std::string> answers = linesOf(run.output);
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers[0], "ready");
    ASSERT_EQ(answers.size(), expected.size() + 1) << "an answer is missing or came twice";
    int reported = 0;
    for (std::size_t i = 0; i < expected.size() && reported < 10; ++i) {
        if (answers[i + 1] != expected[i]) {
            ADD_FAILURE() << set << " request " << queries[i] << "\n" << firstDifference(expected[i], answers[i + 1]);
            ++reported;
        }
    }
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(GoldenAnswers, DemoTown) { expectGoldenAnswers("demo", FERROW_DEMO_SEGMENTS); }

TEST(GoldenAnswers, RealCityNetwork) { expectGoldenAnswers("gothenburg", kGolden + "gothenburg"); }

} // namespace
} // namespace ferrow::service::testing
