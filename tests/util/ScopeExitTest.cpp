#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "util/ScopeExit.h"

namespace ferrow::util {
namespace {

// State changed for a call comes back whether the call returns or throws,
// and guards unwind in reverse order of their making.
TEST(ScopeExit, RunsOnReturnAndOnException) {
    std::string trail;
    const auto call = [&trail](bool fail) {
        trail += "[";
        const auto first = onScopeExit([&trail] { trail += "1"; });
        const auto second = onScopeExit([&trail] { trail += "2"; });
        if (fail) throw std::runtime_error("failed");
        trail += "]";
    };
    call(false);
    EXPECT_EQ(trail, "[]21");
    EXPECT_THROW(call(true), std::runtime_error);
    EXPECT_EQ(trail, "[]21[21");
}

} // namespace
} // namespace ferrow::util
