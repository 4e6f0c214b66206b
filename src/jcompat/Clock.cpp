#include "jcompat/Clock.h"

#include <ctime>
#include <limits>

namespace ferrow::jcompat {

std::int64_t millisFromClockReading(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t millis;
    if (__builtin_mul_overflow(seconds, std::int64_t{1000}, &millis) ||
        __builtin_add_overflow(millis, nanoseconds / 1000000, &millis)) {
        return seconds < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    return millis;
}

std::int64_t currentTimeMillis() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return millisFromClockReading(static_cast<std::int64_t>(now.tv_sec), static_cast<std::int64_t>(now.tv_nsec));
}

} // namespace ferrow::jcompat
