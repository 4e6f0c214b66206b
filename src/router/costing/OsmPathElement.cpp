#include "router/costing/OsmPathElement.h"

#include "router/costing/OsmPath.h"

namespace ferrow::router {

OsmPathElement* OsmPathElement::create(const OsmPath& path, util::ObjectPool<OsmPathElement>& pool) {
    const mapaccess::OsmNode& node = *path.targetNode;
    OsmPathElement* element = create(node.ilon, node.ilat, node.selev, path.originElement, pool);
    element->cost = path.cost;
    element->message = path.message;
    return element;
}

OsmPathElement* OsmPathElement::create(std::int32_t ilon, std::int32_t ilat, std::int16_t selev, OsmPathElement* origin,
                                       util::ObjectPool<OsmPathElement>& pool) {
    OsmPathElement* element = pool.create();
    element->ilon = ilon;
    element->ilat = ilat;
    element->selev = selev;
    element->origin = retain(origin);
    return element;
}

std::int32_t OsmPathElement::calcDistance(const mapaccess::OsmPos& p) const {
    return roundedDistance(ilon, ilat, p.getILon(), p.getILat());
}

} // namespace ferrow::router
