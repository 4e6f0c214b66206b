#pragma once

#include <cmath>
#include <cstdint>

#include "jcompat/NumberText.h"
#include "util/CheapRuler.h"

namespace ferrow::util {

// Signed turn angles at the middle of three grid points, without trigonometric
// calls: positive to the right, negative to the left, within -180..180 degrees.
// Keeps the cosine of the last angle, which the cost models read for turn costs.
class CheapAngleMeter {
public:
    // The turn at (lon1, lat1) coming from (lon0, lat0) and going on to (lon2,
    // lat2). Inline: the search takes one angle per way section.
    double calcAngle(std::int32_t lon0, std::int32_t lat0, std::int32_t lon1, std::int32_t lat1, std::int32_t lon2,
                     std::int32_t lat2) {
        const Legs legs(lon0, lat0, lon1, lat1, lon2, lat2);
        if (legs.t == 0.0) {
            cosAngle_ = 1.0;
            return 0.0;
        }
        const double length = std::sqrt(legs.t);
        const double cosp = legs.dot() / length;
        const double sinp = legs.cross() / length;
        cosAngle_ = cosp;

        // Arcsine polynomial in degrees, on the smaller of sine and cosine.
        // Every choice is a select of values at hand: turns left and right,
        // sharp and slight, come as good as randomly.
        const double sin2 = sinp * sinp;
        const bool bySine = sin2 > 0.5;
        const bool backwards = cosp < 0;
        const double w = bySine ? cosp * cosp : sin2;
        const double offset = bySine ? (sinp > 0 ? 90.0 : -90.0) : backwards ? (sinp < 0 ? -180.0 : 180.0) : 0.0;
        const double v = bySine ? (sinp > 0 ? -cosp : cosp) : backwards ? -sinp : sinp;
        return offset + v * (57.4539 + w * (9.57565 + w * (4.30904 + w * 2.56491)));
    }

    // Only the cosine of the same turn (what calcAngle keeps), for readers
    // of the cosine alone: the sine's division and the arcsine are left out.
    double calcCosAngle(std::int32_t lon0, std::int32_t lat0, std::int32_t lon1, std::int32_t lat1, std::int32_t lon2,
                        std::int32_t lat2) {
        const Legs legs(lon0, lat0, lon1, lat1, lon2, lat2);
        cosAngle_ = legs.t == 0.0 ? 1.0 : legs.dot() / std::sqrt(legs.t);
        return cosAngle_;
    }

    // The cosine of the angle of the last calcAngle (1.0 when a leg had no
    // length), 0.0 before the first.
    double getCosAngle() const noexcept { return cosAngle_; }

private:
    // The two legs in metres, scaled at the turn's latitude, and the product
    // of their squared lengths.
    struct Legs {
        Legs(std::int32_t lon0, std::int32_t lat0, std::int32_t lon1, std::int32_t lat1, std::int32_t lon2,
             std::int32_t lat2) {
            const CheapRuler::Scales& scales = CheapRuler::scalesAt(lat1);
            dx10 = scales.kx * jcompat::wrapSub(lon1, lon0);
            dy10 = scales.ky * jcompat::wrapSub(lat1, lat0);
            dx21 = scales.kx * jcompat::wrapSub(lon2, lon1);
            dy21 = scales.ky * jcompat::wrapSub(lat2, lat1);
            t = (dx10 * dx10 + dy10 * dy10) * (dx21 * dx21 + dy21 * dy21);
        }
        double dot() const noexcept { return dx10 * dx21 + dy10 * dy21; }
        double cross() const noexcept { return dx21 * dy10 - dx10 * dy21; }
        double dx10, dy10, dx21, dy21, t;
    };

    double cosAngle_ = 0.0;
};

} // namespace ferrow::util
