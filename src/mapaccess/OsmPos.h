#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "util/CheapRuler.h"

namespace ferrow::mapaccess {

// A point on the micro-degree grid: graph nodes and track points.
class OsmPos {
public:
    virtual ~OsmPos() = default;

    virtual std::int32_t getILat() const = 0;
    virtual std::int32_t getILon() const = 0;
    // Elevation in quarter metres; -32768 when unknown.
    virtual std::int16_t getSElev() const = 0;
    // Elevation in metres.
    virtual double getElev() const = 0;
    // (ilon << 32) | ilat.
    virtual std::int64_t getIdFromPos() const = 0;
    // Metres to p, rounded, at least 1.
    virtual std::int32_t calcDistance(const OsmPos& p) const = 0;

    static std::int64_t idFromPos(std::int32_t ilon, std::int32_t ilat) noexcept {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(ilon)) << 32) |
                                         static_cast<std::uint32_t>(ilat));
    }

    // The distance of the graph: the ruler's metres rounded half up, at least 1
    // and at most the largest 32-bit value.
    static std::int32_t roundedDistance(std::int32_t ilon1, std::int32_t ilat1, std::int32_t ilon2,
                                        std::int32_t ilat2) {
        const double metres = std::floor(util::CheapRuler::distance(ilon1, ilat1, ilon2, ilat2) + 0.5);
        if (!(metres >= 1.0)) {
            return 1;
        }
        if (metres >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
            return std::numeric_limits<std::int32_t>::max();
        }
        return static_cast<std::int32_t>(metres);
    }

protected:
    OsmPos() = default;
    OsmPos(const OsmPos&) = default;
    OsmPos& operator=(const OsmPos&) = default;
};

} // namespace ferrow::mapaccess
