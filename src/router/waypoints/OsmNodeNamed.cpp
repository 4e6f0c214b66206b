#include "router/waypoints/OsmNodeNamed.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "jcompat/NumberText.h"
#include "util/CheapRuler.h"

namespace ferrow::router {

using util::CheapRuler;

OsmNodeNamed::OsmNodeNamed(std::int32_t lon, std::int32_t lat, std::optional<std::string> pointName)
    : OsmNode(lon, lat), waypointKind(KIND_ORDINARY), name(std::move(pointName)) {}

std::string OsmNodeNamed::toString() const {
    std::string text = std::to_string(ilon) + "," + std::to_string(ilat) + "," + name.value_or("null");
    if (!std::isnan(nogoWeight)) {
        text += ",";
        text += jcompat::doubleToString(nogoWeight);
    }
    return text;
}

double OsmNodeNamed::distanceWithinRadius(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2,
                                          double totalSegmentLength) const {
    const CheapRuler::Scales& scales = CheapRuler::scalesAt(jcompat::wrapAdd(lat1, lat2) >> 1);
    const double r = radius;
    const double d1 = CheapRuler::distance(lon1, lat1, ilon, ilat);
    const double d2 = CheapRuler::distance(lon2, lat2, ilon, ilat);
    if (d1 < r && d2 < r) {
        return totalSegmentLength;
    }
    bool lastPointInside = d2 < r;
    if (d1 < r) {
        std::swap(lon1, lon2);
        std::swap(lat1, lat2);
        lastPointInside = true;
    }
    // From here the first point is outside.
    const double dist = CheapRuler::distance(ilon, ilat, lon1, lat1);
    const auto latProduct = static_cast<std::int64_t>(jcompat::wrapSub(ilat, lat1)) * jcompat::wrapSub(lat2, lat1);
    const auto lonProduct = static_cast<std::int64_t>(jcompat::wrapSub(ilon, lon1)) * jcompat::wrapSub(lon2, lon1);
    const double proj = (static_cast<double>(latProduct) * scales.ky * scales.ky +
                         static_cast<double>(lonProduct) * scales.kx * scales.kx) /
                        totalSegmentLength;
    // The two distances come from differently scaled bands, so for a segment
    // that only grazes the circle the difference can dip below zero.
    const double half = std::sqrt(std::max(0.0, r * r + proj * proj - dist * dist));
    return lastPointInside ? totalSegmentLength - proj + half : 2.0 * half;
}

} // namespace ferrow::router
