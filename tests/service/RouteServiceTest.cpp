#include "service/RouteService.h"

#include <pthread.h>
#include <cstdint>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

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

// Workers one after another run on one stack; a worker started while
// another still runs (callers on two threads) runs on a stack of its own.
TEST(LargeStack, WorkersInTurnShareOneStack) {
    const auto here = [] { return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); };
    const std::uintptr_t first = onLargeStack(here);
    EXPECT_EQ(onLargeStack(here), first);

    std::promise<void> started;
    std::promise<void> release;
    std::future<void> released = release.get_future();
    std::thread other([&] {
        onLargeStack([&] {
            started.set_value();
            released.wait();
            return 0;
        });
    });
    started.get_future().wait();
    const std::uintptr_t meanwhile = onLargeStack(here);
    release.set_value();
    other.join();
    EXPECT_GT(meanwhile > first ? meanwhile - first : first - meanwhile, std::uintptr_t{268435456} / 2);
    EXPECT_EQ(onLargeStack(here), first);
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
