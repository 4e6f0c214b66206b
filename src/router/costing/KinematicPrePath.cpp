#include "router/costing/KinematicPrePath.h"

#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "mapaccess/OsmTransferNode.h"
#include "router/costing/KinematicModel.h"
#include "router/costing/OsmPath.h"
#include "router/costing/RoutingContext.h"

namespace ferrow::router {

void KinematicPrePath::initPrePath(OsmPath& origin, RoutingContext& rc) {
    const auto* model = dynamic_cast<const KinematicModel*>(rc.pathModel.get());
    if (model == nullptr) {
        throw jcompat::ClassCastException("the routing context's cost model is not a kinematic model");
    }
    const util::ByteArray& wayTags = !link->wayTags.isNull()         ? link->wayTags
                                     : !targetNode->wayTags.isNull() ? targetNode->wayTags
                                                                     : model->noWayTags;

    const bool isReverse = link->isReverse(sourceNode);
    expressions::BExpressionContextWay& way = *rc.expctxWay;
    way.evaluate(rc.inverseDirection != isReverse, wayTags);

    const mapaccess::OsmTransferNode* firstPoint =
        rc.geometryDecoder.decodeGeometry(link->geometry, sourceNode, targetNode, isReverse);
    const std::int32_t nextIlon = firstPoint != nullptr ? firstPoint->ilon : targetNode->ilon;
    const std::int32_t nextIlat = firstPoint != nullptr ? firstPoint->ilat : targetNode->ilat;
    // Measured for its effects on the no-go and waypoint state, like every
    // segment the search looks at.
    rc.calcDistance(sourceNode->ilon, sourceNode->ilat, nextIlon, nextIlat);

    angle = rc.anglemeter.calcAngle(origin.prevIlon, origin.prevIlat, sourceNode->ilon, sourceNode->ilat, nextIlon,
                                    nextIlat);
    priorityClassifier = jcompat::toInt(way.getPriorityClassifier());
    classifierMask = jcompat::toInt(way.getClassifierMask());
}

} // namespace ferrow::router
