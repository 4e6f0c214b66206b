#include "router/area/AreaInfo.h"

#include <cmath>
#include <vector>

#include "expressions/BExpressionContext.h"
#include "jcompat/NumberText.h"

namespace ferrow::router {

namespace {

// The lowest value index of a value listed in the lookup table (0 is an
// absent tag, 1 an unknown value).
constexpr int kFirstListedValue = 2;

bool hasListedValue(const std::vector<int>& values, std::int32_t keyIndex) {
    return keyIndex != -1 && static_cast<std::size_t>(keyIndex) < values.size() &&
           values[static_cast<std::size_t>(keyIndex)] >= kFirstListedValue;
}

} // namespace

AreaInfo::AreaInfo(std::int32_t degrees) : polygon(std::make_unique<OsmNogoPolygon>(true)), direction(degrees) {}

void AreaInfo::checkAreaInfo(const expressions::BExpressionContext& wayContext, double elevation,
                             const util::ByteArray& wayDescription) {
    ++ways;
    if (std::abs(startElevation - elevation) < 50.0) ++elev50;
    std::vector<int> values(static_cast<std::size_t>(wayContext.lookupTagCount()), 0);
    wayContext.decode(values, false, wayDescription.span());
    if (hasListedValue(values, greenKeyIndex)) ++greenWays;
    if (hasListedValue(values, riverKeyIndex)) ++riverWays;
}

std::int32_t AreaInfo::percentOfWays(std::int32_t counter) const {
    if (ways == 0) return 0;
    return jcompat::toInt(counter * 100.0 / ways);
}

std::string AreaInfo::toString() const {
    return "Area " + std::to_string(direction) + " " + jcompat::doubleToString(startElevation) + "m ways " +
           std::to_string(ways) + "\nArea ways <50m  " + std::to_string(elev50) + " " +
           std::to_string(getElev50Weight()) + "%" + "\nArea ways green " + std::to_string(greenWays) + " " +
           std::to_string(getGreen()) + "%" + "\nArea ways river " + std::to_string(riverWays) + " " +
           std::to_string(getRiver()) + "%";
}

} // namespace ferrow::router
