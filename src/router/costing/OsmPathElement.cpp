#include "router/costing/OsmPathElement.h"

#include <cmath>
#include <limits>

#include "jcompat/Exceptions.h"
#include "router/costing/OsmPath.h"
#include "util/CheapRuler.h"

namespace ferrow::router {

OsmPathElement* OsmPathElement::create(const OsmPath& path, util::ObjectPool<OsmPathElement>& pool) {
    const mapaccess::OsmNode& node = *path.targetNode;
    OsmPathElement* element = create(node.ilon, node.ilat, node.selev, path.originElement, pool);
    element->cost = path.cost;
    element->message = path.message;
    return element;
}

OsmPathElement* OsmPathElement::create(std::int32_t ilon, std::int32_t ilat, std::int16_t selev,
                                       OsmPathElement* origin, util::ObjectPool<OsmPathElement>& pool) {
    OsmPathElement* element = pool.create();
    element->ilon = ilon;
    element->ilat = ilat;
    element->selev = selev;
    element->origin = origin;
    return element;
}

std::int32_t OsmPathElement::calcDistance(const mapaccess::OsmPos& p) const {
    const double metres = util::CheapRuler::distance(ilon, ilat, p.getILon(), p.getILat());
    if (std::isnan(metres)) {
        throw jcompat::IllegalArgumentException("Cannot round NaN value.");
    }
    const double rounded = std::floor(metres + 0.5);
    if (rounded < 1.0) return 1;
    if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(rounded);
}

} // namespace ferrow::router
