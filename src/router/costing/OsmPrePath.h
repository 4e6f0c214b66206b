#pragma once

#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmNode.h"

namespace ferrow::router {

class OsmPath;
class RoutingContext;

// A cost model's look-ahead over one of the other links at a junction, made
// before the junction's links are priced, so that a path can see the ways it
// crosses. The standard model makes none.
class OsmPrePath {
public:
    virtual ~OsmPrePath() = default;

    mapaccess::OsmNode* sourceNode = nullptr;
    mapaccess::OsmNode* targetNode = nullptr;
    mapaccess::OsmLink* link = nullptr;
    // The next pre-path of the junction's list.
    OsmPrePath* next = nullptr;

    // Looks at nextLink leaving origin's target.
    void init(OsmPath& origin, mapaccess::OsmLink* nextLink, RoutingContext& rc);

protected:
    virtual void initPrePath(OsmPath& origin, RoutingContext& rc) = 0;
};

} // namespace ferrow::router
