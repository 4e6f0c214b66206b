#pragma once

#include <cstdint>
#include <string>

namespace ferrow::mapaccess {

// One turn restriction at a node: the turn from the neighbour at the from-
// position to the neighbour at the to-position is forbidden (or, for a
// positive one, the only allowed turn from there).
struct TurnRestriction {
    static constexpr std::int16_t EXCEPT_BIKES = 1;
    static constexpr std::int16_t EXCEPT_MOTORCARS = 2;

    TurnRestriction* next = nullptr;
    std::int32_t fromLon = 0;
    std::int32_t fromLat = 0;
    std::int32_t toLon = 0;
    std::int32_t toLat = 0;
    std::int16_t exceptions = 0;
    bool isPositive = false;

    bool exceptBikes() const noexcept { return (exceptions & EXCEPT_BIKES) != 0; }
    bool exceptMotorcars() const noexcept { return (exceptions & EXCEPT_MOTORCARS) != 0; }

    // Whether the restrictions from first on forbid the turn; restrictions that
    // except bicycles (or motor cars) are ignored when the matching flag is set.
    static bool isTurnForbidden(const TurnRestriction* first, std::int32_t fromLon, std::int32_t fromLat,
                                std::int32_t toLon, std::int32_t toLat, bool bikeMode, bool carMode);

    std::string toString() const;
};

} // namespace ferrow::mapaccess
