#pragma once

#include <cstdint>

namespace ferrow::util {

// Signed turn angles at the middle of three grid points, without trigonometric
// calls: positive to the right, negative to the left, within -180..180 degrees.
// Keeps the cosine of the last angle, which the cost models read for turn costs.
class CheapAngleMeter {
public:
    // The turn at (lon1, lat1) coming from (lon0, lat0) and going on to (lon2, lat2).
    double calcAngle(std::int32_t lon0, std::int32_t lat0, std::int32_t lon1, std::int32_t lat1, std::int32_t lon2,
                     std::int32_t lat2);

    // The cosine of the angle of the last calcAngle (1.0 when a leg had no
    // length), 0.0 before the first.
    double getCosAngle() const noexcept { return cosAngle_; }

private:
    double cosAngle_ = 0.0;
};

} // namespace ferrow::util
