#include "router/costing/OsmPath.h"

#include <cmath>
#include <limits>
#include <string>

#include "expressions/BExpressionContextWay.h"
#include "jcompat/NumberText.h"
#include "mapaccess/OsmTransferNode.h"
#include "mapaccess/TurnRestriction.h"
#include "router/costing/RoutingContext.h"
#include "util/CheapRuler.h"

namespace ferrow::router {

using jcompat::toInt;
using jcompat::wrapAdd;
using jcompat::wrapSub;
using mapaccess::OsmNode;

namespace {

// Costs are 32-bit; extreme profile values could push a sum past the range,
// where it stays at the limit instead of wrapping.
std::int32_t clampedCost(std::int64_t sum) {
    if (sum > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

// Process-wide: straight-line legs keep counting over the life of the process.
std::int32_t directSegmentCounter = 1;

} // namespace

std::int32_t OsmPath::takeDirectSegmentNumber() {
    const std::int32_t number = directSegmentCounter;
    directSegmentCounter = wrapAdd(directSegmentCounter, 1);
    return number;
}

void OsmPath::init(mapaccess::OsmLink* startLink) {
    link = startLink;
    targetNode = startLink->getTarget(nullptr);
    selev = targetNode->selev;
    prevIlon = -1;
    prevIlat = -1;
}

void OsmPath::init(OsmPath& origin, mapaccess::OsmLink* nextLink, const TrackPointMap* refTrack, bool detailMode,
                   RoutingContext& rc) {
    if (origin.ownElement == nullptr) {
        origin.ownElement = OsmPathElement::create(origin, rc.pathElements);
    }
    originElement = origin.ownElement;
    link = nextLink;
    sourceNode = origin.targetNode;
    targetNode = nextLink->getTarget(sourceNode);
    cost = origin.cost;
    lastClassifier = origin.lastClassifier;
    lastInitialCost = origin.lastInitialCost;
    destinationBits = origin.destinationBits;
    priorityClassifier = origin.priorityClassifier;
    init(origin);
    addAddionalPenalty(refTrack, detailMode, origin, nextLink, rc);
}

std::int16_t OsmPath::interpolateEle(std::int16_t e1, std::int16_t e2, double fraction) {
    if (e1 == OsmNode::NO_ELEVATION || e2 == OsmNode::NO_ELEVATION) {
        return OsmNode::NO_ELEVATION;
    }
    const double x = e2 * fraction + e1 * (1.0 - fraction);
    return static_cast<std::int16_t>(toInt(x));
}

void OsmPath::computeKinematic(RoutingContext&, double, double, bool) {}

void OsmPath::addAddionalPenalty(const TrackPointMap* refTrack, bool detailMode, OsmPath& origin,
                                 mapaccess::OsmLink* link, RoutingContext& rc) {
    const util::ByteArray& wayTags = link->wayTags;
    if (wayTags.isNull()) {
        // A straight-line leg made by the engine: no cost, only its record.
        message = std::make_shared<MessageData>();
        message->turnAngle = 0.0f;
        message->time = 1.0f;
        message->energy = 0.0f;
        message->priorityClassifier = 0;
        message->classifierMask = 0;
        message->ilon = targetNode->ilon;
        message->ilat = targetNode->ilat;
        message->elevation = OsmNode::NO_ELEVATION;
        message->distance = sourceNode->calcDistance(*targetNode);
        message->wayTags = "direct_segment=" + std::to_string(takeDirectSegmentNumber());
        return;
    }

    rc.nogoCost = 0.0;
    std::int32_t lon0 = origin.prevIlon;
    std::int32_t lat0 = origin.prevIlat;
    std::int32_t lon1 = sourceNode->ilon;
    std::int32_t lat1 = sourceNode->ilat;
    std::int16_t ele1 = origin.selev;
    std::int32_t linkDist = 0;

    message = detailMode ? std::make_shared<MessageData>() : nullptr;

    const bool isReverse = link->isReverse(sourceNode);
    expressions::BExpressionContextWay& way = *rc.expctxWay;
    way.evaluate(rc.inverseDirection != isReverse, wayTags);

    const float costFactor = way.getCostfactor();
    const bool isTrafficBackbone = cost == 0 && way.getIsTrafficBackbone() > 0.0f;
    const std::int32_t lastPriorityClassifier = priorityClassifier;
    priorityClassifier = toInt(way.getPriorityClassifier());

    // Initial cost when the way class changes.
    const float newClassifier = way.getInitialClassifier();
    const float newInitialCost = way.getInitialcost();
    const float classifierDifference = newClassifier - lastClassifier;
    if (newClassifier != 0.0f && lastClassifier != 0.0f &&
        (classifierDifference > 0.0005 || classifierDifference < -0.0005)) {
        const float initialCost = rc.inverseDirection ? lastInitialCost : newInitialCost;
        if (initialCost >= 1000000.0f) {
            cost = -1;
            return;
        }
        const std::int32_t initialCostPart = toInt(initialCost);
        cost = clampedCost(std::int64_t{cost} + initialCostPart);
        if (message) message->initialCost = clampedCost(std::int64_t{message->initialCost} + initialCostPart);
    }
    lastClassifier = newClassifier;
    lastInitialCost = newInitialCost;

    // Destination-only areas: a path may enter one, but may leave one only
    // when it started inside (and then only once).
    const std::int32_t classifierMask = toInt(way.getClassifierMask());
    const bool isDestination = (classifierMask & DESTINATION_WAY_MASK) != 0;
    if (hasBit(PATH_START_BIT)) {
        setBit(PATH_START_BIT, false);
        setBit(CAN_LEAVE_DESTINATION_BIT, isDestination);
        setBit(HAD_DESTINATION_START_BIT, isDestination);
    } else if (hasBit(IS_ON_DESTINATION_BIT) && !isDestination) {
        if (!hasBit(CAN_LEAVE_DESTINATION_BIT)) {
            cost = -1;
            return;
        }
        setBit(CAN_LEAVE_DESTINATION_BIT, false);
    }
    setBit(IS_ON_DESTINATION_BIT, isDestination);

    const mapaccess::OsmTransferNode* transfer =
        rc.geometryDecoder.decodeGeometry(link->geometry, sourceNode, targetNode, isReverse);

    const bool allowed = costFactor <= 9998.0f || detailMode;

    for (std::int32_t nsection = 0;; ++nsection) {
        prevIlon = lon1;
        prevIlat = lat1;
        const bool toIntermediate = transfer != nullptr;
        const std::int32_t lon2 = toIntermediate ? transfer->ilon : targetNode->ilon;
        const std::int32_t lat2 = toIntermediate ? transfer->ilat : targetNode->ilat;
        const std::int16_t storedEle2 = toIntermediate ? transfer->selev : targetNode->selev;
        std::int16_t ele2 = storedEle2;
        bool isStartpoint = lon0 == -1 && lat0 == -1;

        if (nsection == 0 && rc.considerTurnRestrictions && !detailMode && !isStartpoint) {
            const bool bikeOrFoot = rc.validForBikes || rc.validForFoot;
            const bool forbidden =
                rc.inverseDirection
                    ? mapaccess::TurnRestriction::isTurnForbidden(sourceNode->firstRestriction, lon2, lat2, lon0,
                                                                  lat0, bikeOrFoot, rc.validForCars)
                    : mapaccess::TurnRestriction::isTurnForbidden(sourceNode->firstRestriction, lon0, lat0, lon2,
                                                                  lat2, bikeOrFoot, rc.validForCars);
            if (forbidden) {
                cost = -1;
                return;
            }
        }

        // Every section after the first gets a record of its own; the point
        // where the previous one ended keeps the previous record.
        if (message && message->wayTags) {
            if (originElement != nullptr) originElement->message = message;
            message = std::make_shared<MessageData>();
        }

        std::int32_t dist = rc.calcDistance(lon1, lat1, lon2, lat2);

        bool stopAtEndpoint = false;
        if (rc.shortestMatch) {
            if (rc.isEndpoint) {
                stopAtEndpoint = true;
                ele2 = interpolateEle(ele1, ele2, rc.wayFraction);
            } else {
                // The path starts here, at the caught waypoint.
                cost = 0;
                resetState();
                lon0 = -1;
                lat0 = -1;
                isStartpoint = true;
                if (detailMode) {
                    if (rc.wayFraction > 0.0) {
                        ele1 = interpolateEle(ele1, ele2, 1.0 - rc.wayFraction);
                        originElement = OsmPathElement::create(rc.ilonShortest, rc.ilatShortest, ele1, nullptr,
                                                               rc.pathElements);
                    } else {
                        originElement = nullptr; // the start is the section's end: no duplicate point
                    }
                }
                if (rc.pendingEndpoint) {
                    rc.isEndpoint = true;
                    if (rc.nogoPoints.empty()) {
                        rc.nogoPoints.push_back(rc.pendingEndpoint);
                    } else {
                        rc.nogoPoints[0] = rc.pendingEndpoint;
                    }
                    rc.pendingEndpoint = nullptr;
                    dist = rc.calcDistance(rc.ilonShortest, rc.ilatShortest, lon2, lat2);
                    if (rc.shortestMatch) {
                        stopAtEndpoint = true;
                        ele2 = interpolateEle(ele1, ele2, rc.wayFraction);
                    }
                }
            }
        }

        if (message) message->distance = clampedCost(std::int64_t{message->distance} + dist);

        if (isStartpoint) {
            if (rc.startDirectionValid && rc.startDirection) {
                const double direction = *rc.startDirection * 0.017453292519943295;
                const util::CheapRuler::Scales& scales = util::CheapRuler::scalesAt(lat1);
                lon0 = wrapSub(lon1, toInt(1000.0 * std::sin(direction) / scales.kx));
                lat0 = wrapSub(lat1, toInt(1000.0 * std::cos(direction) / scales.ky));
            } else {
                lon0 = wrapSub(lon1, wrapSub(lon2, lon1));
                lat0 = wrapSub(lat1, wrapSub(lat2, lat1));
            }
        }

        const double angle = rc.anglemeter.calcAngle(lon0, lat0, lon1, lat1, lon2, lat2);
        const double cosAngle = rc.anglemeter.getCosAngle();

        const std::int16_t ele2Known = ele2 == OsmNode::NO_ELEVATION ? ele1 : ele2;
        double deltaH = ele1 == OsmNode::NO_ELEVATION ? 0.0 : (ele2Known - ele1) * 0.25;
        if (rc.inverseDirection) deltaH = -deltaH;
        const double elevation = ele2Known == OsmNode::NO_ELEVATION ? 100.0 : ele2Known * 0.25;

        const double sectionCost = processWaySection(rc, dist, deltaH, elevation, angle, cosAngle, isStartpoint,
                                                     nsection, lastPriorityClassifier);
        if (sectionCost < 0.0 || !allowed || sectionCost + cost >= COST_LIMIT) {
            cost = -1;
            return;
        }
        if (!isTrafficBackbone) cost = clampedCost(std::int64_t{cost} + toInt(sectionCost));

        computeKinematic(rc, dist, deltaH, detailMode);

        if (message) {
            message->turnAngle = static_cast<float>(angle);
            message->time = static_cast<float>(getTotalTime());
            message->energy = static_cast<float>(getTotalEnergy());
            message->priorityClassifier = priorityClassifier;
            message->classifierMask = classifierMask;
            message->ilon = lon2;
            message->ilat = lat2;
            message->elevation = storedEle2;
            message->wayTags = way.getKeyValueDescription(isReverse, wayTags);
        }

        if (stopAtEndpoint) {
            if (detailMode) {
                originElement = OsmPathElement::create(rc.ilonShortest, rc.ilatShortest, storedEle2, originElement,
                                                       rc.pathElements);
                originElement->cost = cost;
                if (message) originElement->message = message;
            }
            cost = rc.nogoCost < 0.0 ? -1 : toInt(cost + rc.nogoCost);
            return;
        }

        if (toIntermediate) {
            linkDist = clampedCost(std::int64_t{linkDist} + dist);
            transfer = transfer->next;
            if (detailMode) {
                originElement = OsmPathElement::create(lon2, lat2, storedEle2, originElement, rc.pathElements);
                originElement->cost = cost;
            }
            lon0 = lon1;
            lat0 = lat1;
            lon1 = lon2;
            lat1 = lat2;
            ele1 = ele2Known;
            continue;
        }

        // The target node is reached.
        if (refTrack != nullptr && refTrack->contains(targetNode->getIdFromPos()) &&
            refTrack->contains(sourceNode->getIdFromPos())) {
            // The link belongs to an earlier alternative: its whole length is charged again.
            cost = clampedCost(std::int64_t{cost} + linkDist + dist);
        }
        selev = ele2Known;

        if (rc.nogoCost < 0.0) {
            cost = -1;
            return;
        }
        cost = toInt(cost + rc.nogoCost);

        const double nodeCost = processTargetNode(rc);
        if (nodeCost < 0.0 || nodeCost + cost >= COST_LIMIT) {
            cost = -1;
            return;
        }
        cost = clampedCost(std::int64_t{cost} + toInt(nodeCost));
        return;
    }
}

} // namespace ferrow::router
