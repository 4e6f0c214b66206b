#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "router/waypoints/OsmNogoPolygon.h"
#include "util/ByteArray.h"

namespace ferrow::expressions {
class BExpressionContext;
}

namespace ferrow::router {

// The statistics of one direction sector around a round trip's start: how
// many ways it holds, and how many of them lie within 50 m of the start's
// elevation or carry a forest or river class.
class AreaInfo {
public:
    explicit AreaInfo(std::int32_t degrees);

    // The sector triangle (closed); empty for sectors read from a cache file.
    std::unique_ptr<OsmNogoPolygon> polygon;
    double startElevation = 0.0; // metres
    // Degrees: 90 for the east quarter, then 180, 270 and 360.
    std::int32_t direction;
    // Lookup keys of the forest and river classes; -1: not counted.
    std::int32_t greenKeyIndex = -1;
    std::int32_t riverKeyIndex = -1;
    std::int32_t ways = 0;
    std::int32_t greenWays = 0;
    std::int32_t riverWays = 0;
    std::int32_t elev50 = 0;

    // Counts one way seen at a node of the given elevation (metres).
    void checkAreaInfo(const expressions::BExpressionContext& wayContext, double elevation,
                       const util::ByteArray& wayDescription);

    // Shares of the ways in whole percent (truncated), 0 without ways.
    std::int32_t getElev50Weight() const { return percentOfWays(elev50); }
    std::int32_t getGreen() const { return percentOfWays(greenWays); }
    std::int32_t getRiver() const { return percentOfWays(riverWays); }

    // A report of the counts over four lines.
    std::string toString() const;

private:
    std::int32_t percentOfWays(std::int32_t counter) const;
};

} // namespace ferrow::router
