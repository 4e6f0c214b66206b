#pragma once

#include <cstdint>

namespace ferrow::jcompat {

// Wall-clock milliseconds since 1970-01-01 00:00:00 UTC.
std::int64_t currentTimeMillis();

// seconds x 1000 + nanoseconds / 1000000, saturated at the 64-bit limits
// (seconds rounded down, nanoseconds within the second).
std::int64_t millisFromClockReading(std::int64_t seconds, std::int64_t nanoseconds);

} // namespace ferrow::jcompat
