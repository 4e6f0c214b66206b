#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace ferrow::util {

// The value held within the 32-bit range: costs, distances and totals are
// 32-bit, and a sum past the range stays at its limit instead of wrapping.
constexpr std::int32_t saturateToInt32(std::int64_t value) noexcept {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace ferrow::util
