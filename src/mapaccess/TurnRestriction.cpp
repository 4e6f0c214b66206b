#include "mapaccess/TurnRestriction.h"

namespace ferrow::mapaccess {

bool TurnRestriction::isTurnForbidden(const TurnRestriction* first, std::int32_t fromLon, std::int32_t fromLat,
                                      std::int32_t toLon, std::int32_t toLat, bool bikeMode, bool carMode) {
    bool hasPositive = false;
    bool allowedPositive = false;
    bool forbiddenNegative = false;
    for (const TurnRestriction* r = first; r != nullptr; r = r->next) {
        if ((bikeMode && r->exceptBikes()) || (carMode && r->exceptMotorcars())) {
            continue;
        }
        if (r->fromLon != fromLon || r->fromLat != fromLat) {
            continue;
        }
        if (r->isPositive) {
            hasPositive = true;
        }
        if (r->toLon == toLon && r->toLat == toLat) {
            if (r->isPositive) {
                allowedPositive = true;
            } else {
                forbiddenNegative = true;
            }
        }
    }
    return (hasPositive || forbiddenNegative) && !allowedPositive;
}

std::string TurnRestriction::toString() const {
    return std::string("pos=") + (isPositive ? "true" : "false") + " fromLon=" + std::to_string(fromLon) +
           " fromLat=" + std::to_string(fromLat) + " toLon=" + std::to_string(toLon) +
           " toLat=" + std::to_string(toLat);
}

} // namespace ferrow::mapaccess
