#include "router/costing/OsmPrePath.h"

#include "router/costing/OsmPath.h"

namespace ferrow::router {

void OsmPrePath::init(OsmPath& origin, mapaccess::OsmLink* nextLink, RoutingContext& rc) {
    link = nextLink;
    sourceNode = origin.getTargetNode();
    targetNode = nextLink->getTarget(sourceNode);
    initPrePath(origin, rc);
}

} // namespace ferrow::router
