#include "router/costing/KinematicPrePath.h"

#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "mapaccess/LinkShape.h"
#include "mapaccess/OsmLink.h"
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

    std::int32_t nextIlon = targetNode->ilon;
    std::int32_t nextIlat = targetNode->ilat;
    if (const mapaccess::LinkShape& shape = link->shape; rc.nogoPoints.empty() && shape.present()) {
        // The measured shape holds the decoded points; without no-go areas
        // and waypoints measuring the segment has no effect.
        if (shape.pointCount > 0) {
            const mapaccess::ShapePoint& first = shape.points[isReverse ? shape.pointCount - 1 : 0];
            nextIlon = first.lon;
            nextIlat = first.lat;
        }
    } else {
        const mapaccess::OsmTransferNode* firstPoint =
            rc.geometryDecoder.decodeGeometry(link->geometry, sourceNode, targetNode, isReverse);
        if (firstPoint != nullptr) {
            nextIlon = firstPoint->ilon;
            nextIlat = firstPoint->ilat;
        }
        // Measured for its effects on the no-go and waypoint state, like
        // every segment the search looks at.
        rc.calcDistance(sourceNode->ilon, sourceNode->ilat, nextIlon, nextIlat);
    }

    angle = rc.anglemeter.calcAngle(origin.prevIlon, origin.prevIlat, sourceNode->ilon, sourceNode->ilat, nextIlon,
                                    nextIlat);
    priorityClassifier = jcompat::toInt(way.getPriorityClassifier());
    classifierMask = jcompat::toInt(way.getClassifierMask());
}

} // namespace ferrow::router
