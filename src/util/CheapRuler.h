#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "jcompat/NumberText.h"

namespace ferrow::util {

// Flat-earth distances on the micro-degree grid, with east and north scale
// factors per 0.1-degree latitude band. The only distance formula of the system.
class CheapRuler {
public:
    // Metres per grid unit of longitude (kx) and of latitude (ky).
    struct Scales {
        double kx;
        double ky;
    };

    static constexpr std::int32_t BAND_COUNT = 1800;
    static constexpr std::int32_t BAND_WIDTH = 100000; // grid units: 0.1 degree

    // The scales of the band holding grid latitude ilat (ilat / 100000, truncated);
    // a band outside the table raises IndexOutOfBoundsException.
    static const Scales& scalesAt(std::int32_t ilat) { return band(ilat / BAND_WIDTH); }

    // Metres between two grid points, with the scales of their mean latitude.
    static double distance(std::int32_t ilon1, std::int32_t ilat1, std::int32_t ilon2, std::int32_t ilat2) {
        // 32-bit grid arithmetic, wrapping as the formulas are defined.
        const Scales& scales = band((jcompat::wrapAdd(ilat1, ilat2) >> 1) / BAND_WIDTH);
        const double dx = scales.kx * jcompat::wrapSub(ilon1, ilon2);
        const double dy = scales.ky * jcompat::wrapSub(ilat1, ilat2);
        return std::sqrt(dx * dx + dy * dy);
    }

    // The grid point (ilon, ilat) reached from the given one after distance
    // metres in the direction bearing (degrees clockwise from north), rounded to
    // the nearest grid unit, with the scales of the start point's band.
    static std::array<std::int32_t, 2> destination(std::int32_t ilon, std::int32_t ilat, double distance,
                                                   double bearing);

private:
    using Table = std::array<Scales, BAND_COUNT>;

    static const Table& table() {
        static const Table scales = buildTable();
        return scales;
    }
    static Table buildTable();

    static const Scales& band(std::int32_t index) {
        if (static_cast<std::uint32_t>(index) >= static_cast<std::uint32_t>(BAND_COUNT)) {
            throwBadBand(index);
        }
        return table()[static_cast<std::size_t>(index)];
    }
    [[noreturn]] static void throwBadBand(std::int32_t index);
};

} // namespace ferrow::util
