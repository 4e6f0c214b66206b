#include "util/CheapRuler.h"

#include <cmath>

#include "jcompat/NumberText.h"
#include "util/Bounds.h"

namespace ferrow::util {

namespace {

constexpr double kGridToDegrees = 1e-6;
constexpr double kDegreesToRadians = 0.017453292519943295;
constexpr double kKilometresToMetres = 1000;

} // namespace

CheapRuler::Table CheapRuler::buildTable() {
    Table scales{};
    for (std::int32_t i = 0; i < BAND_COUNT; ++i) {
        const double middle = ((i * BAND_WIDTH + BAND_WIDTH / 2) * kGridToDegrees - 90) * kDegreesToRadians;
        // Multiple-angle cosines by recurrence: one cosine call per band.
        const double c1 = std::cos(middle);
        const double c2 = c1 * (2 * c1) - 1;
        const double c3 = 2 * c1 * c2 - c1;
        const double c4 = 2 * c1 * c3 - c2;
        const double c5 = 2 * c1 * c4 - c3;
        scales[static_cast<std::size_t>(i)] = {
            ((111.41513 * c1 - 0.09455 * c3) + 0.00012 * c5) * kGridToDegrees * kKilometresToMetres,
            ((111.13209 - 0.56605 * c2) + 0.0012 * c4) * kGridToDegrees * kKilometresToMetres,
        };
    }
    return scales;
}

void CheapRuler::throwBadBand(std::int32_t index) { throwIndexOutOfBounds(index, BAND_COUNT); }

std::array<std::int32_t, 2> CheapRuler::destination(std::int32_t ilon, std::int32_t ilat, double distance,
                                                    double bearing) {
    const Scales& scales = scalesAt(ilat);
    const double angle = (90 - bearing) * 3.141592653589793 / 180;
    const double s = std::sin(angle);
    const double c = std::cos(angle);
    return {jcompat::toInt(ilon + 0.5 + distance * c / scales.kx),
            jcompat::toInt(ilat + 0.5 + distance * s / scales.ky)};
}

} // namespace ferrow::util
