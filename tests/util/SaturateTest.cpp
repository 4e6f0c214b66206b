#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "util/Saturate.h"

namespace ferrow::util {
namespace {

TEST(Saturate, HoldsSumsAtTheLimitsOfThe32BitRange) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(saturateToInt32(0), 0);
    EXPECT_EQ(saturateToInt32(-5), -5);
    EXPECT_EQ(saturateToInt32(kMax), 2147483647);
    EXPECT_EQ(saturateToInt32(kMax + 1), 2147483647);
    EXPECT_EQ(saturateToInt32(kMax + kMax), 2147483647);
    EXPECT_EQ(saturateToInt32(kMin), -2147483647 - 1);
    EXPECT_EQ(saturateToInt32(kMin - 1), -2147483647 - 1);
    EXPECT_EQ(saturateToInt32(std::numeric_limits<std::int64_t>::min()), -2147483647 - 1);
}

} // namespace
} // namespace ferrow::util
