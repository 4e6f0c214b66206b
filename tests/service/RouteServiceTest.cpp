#include "service/RouteService.h"

#include <pthread.h>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "service/LargeStack.h"
#include "service/ServiceLineProtocol.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestPlatform.h"

using ferrow::service::onLargeStack;
using ferrow::service::RouteService;
using ferrow::service::ServiceLineProtocol;

namespace {

RouteService::Answer answerFor(const std::string& line, const std::string& segmentDir = "no-such-directory") {
    return RouteService::answer(line, line.find('\t'), segmentDir);
}

} // namespace

TEST(RouteServiceAnswer, ParameterErrors) {
    auto answer = answerFor("7\tlonlats=1,2");
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.text, "profile parameter not set");
    answer = answerFor("7\tprofile=%G1");
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.text, "URLDecoder: Illegal hex characters in escape (%) pattern");
    // The query is everything after the first TAB, further TABs included.
    answer = answerFor("7\tx=1\tprofile=p");
    EXPECT_EQ(answer.text, "profile parameter not set"); // one pair: x = "1<TAB>profile"
    answer = answerFor("7\tprofile=a\tb");
    EXPECT_EQ(answer.text, "lonlats parameter not set");
}

TEST(RouteServiceAnswer, ProfileRequestsReachTheEngine) {
    const ferrow::testsupport::TempDirectory noSegments;
    const auto answer =
        answerFor("1\tprofile=" FERROW_SOURCE_DIR "/profiles/car.vpf&lonlats=8.0,50.0;8.01,50.01", noSegments.path());
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.text, "datafile E5_N50.rd5 not found");
}

TEST(ServiceLineProtocolAnswerLine, FlagAndLineBreaksReplaced) {
    EXPECT_EQ(ServiceLineProtocol::answerLine("id 1", {"a\nb\r\nc", false}), "id 1\t0\ta b  c\n");
    EXPECT_EQ(ServiceLineProtocol::answerLine("", {"{}", true}), "\t1\t{}\n");
}

TEST(LargeStack, RunsOnANamedThreadWithTheLargeStack) {
    const pthread_t caller = pthread_self();
    struct Seen {
        std::string name;
        std::size_t stackSize = 0;
        bool otherThread = false;
    };
    const Seen seen = onLargeStack([&] {
        Seen result;
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        result.name = name;
        result.stackSize = ferrow::testsupport::currentThreadStackSize();
        result.otherThread = !pthread_equal(caller, pthread_self());
        return result;
    });
    EXPECT_EQ(seen.name, "ostrand");
    EXPECT_GE(seen.stackSize, std::size_t{268435456});
    EXPECT_TRUE(seen.otherThread);
}

TEST(LargeStack, EscapingFailureIsRaisedOnTheCaller) {
    try {
        onLargeStack([]() -> int { throw ferrow::jcompat::IllegalStateException("from the worker"); });
        FAIL() << "no failure";
    } catch (const ferrow::jcompat::IllegalStateException& e) {
        EXPECT_EQ(e.getMessage(), "from the worker");
    }
    EXPECT_THROW(onLargeStack([]() -> int { throw std::bad_alloc(); }), std::bad_alloc);
    // Many requests in a row: every worker is joined, so no stack is left behind.
    int sum = 0;
    for (int i = 0; i < 200; ++i) sum += onLargeStack([i] { return i; });
    EXPECT_EQ(sum, 199 * 200 / 2);
}
