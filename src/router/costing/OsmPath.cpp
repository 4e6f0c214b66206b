#include "router/costing/OsmPath.h"

#include <cmath>
#include <span>
#include <string>

#include "expressions/BExpressionContextWay.h"
#include "jcompat/NumberText.h"
#include "mapaccess/LinkShape.h"
#include "mapaccess/OsmTransferNode.h"
#include "mapaccess/TurnRestriction.h"
#include "router/costing/RoutingContext.h"
#include "router/costing/StdModel.h"
#include "router/costing/StdPath.h"
#include "util/CheapRuler.h"
#include "util/Saturate.h"

namespace ferrow::router {

using jcompat::toInt;
using jcompat::wrapAdd;
using jcompat::wrapSub;
using mapaccess::OsmNode;

namespace {

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
        origin.ownElement = OsmPathElement::retain(OsmPathElement::create(origin, rc.pathElements));
    }
    originElement = OsmPathElement::retain(origin.ownElement);
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

void OsmPath::letGoOfPoints(util::ObjectPool<OsmPathElement>& pool) noexcept {
    OsmPathElement::letGo(originElement, pool);
    OsmPathElement::letGo(ownElement, pool);
    originElement = nullptr;
    ownElement = nullptr;
}

inline void OsmPath::extendOrigin(OsmPathElement* point, RoutingContext& rc) {
    OsmPathElement::retain(point);
    OsmPathElement::letGo(originElement, rc.pathElements);
    originElement = point;
}

// The walk over one link, section by section: where the current section
// starts, the point before it (the turn reference; -1, -1 at a path's start)
// and the geometry points still ahead.
//
// Where no no-go area or waypoint lies, a link measured when its tile was
// decoded is walked over its shape: the points, section lengths and turns are
// read, not worked out again. Otherwise its geometry is decoded and measured.
struct OsmPath::LinkWalk {
    std::int32_t lon0;
    std::int32_t lat0;
    std::int32_t lon1;
    std::int32_t lat1;
    std::int16_t ele1;
    std::int32_t linkDist; // metres of the sections walked
    const mapaccess::OsmTransferNode* transfer;
    const mapaccess::LinkShape* shape;
    bool backward;      // the shape is walked from its last point to its first
    std::int32_t point; // the shape's next point ahead, or -1 / pointCount when none is left

    bool pointAhead() const { return shape != nullptr ? shapePointAhead() : transfer != nullptr; }
    // (Walked forwards or backwards alike, without a branch on the direction:
    // links are walked either way about as often.)
    bool shapePointAhead() const {
        return static_cast<std::uint32_t>(point) < static_cast<std::uint32_t>(shape->pointCount);
    }
    // +1 forwards, -1 backwards.
    std::int32_t step() const { return 1 - 2 * static_cast<std::int32_t>(backward); }
    // Section number of the shape (counted from its first node) that starts here.
    std::int32_t shapeSection() const { return point + static_cast<std::int32_t>(backward); }
};

// One section: from the walk's position to the next geometry point or the
// target node.
struct OsmPath::Section {
    std::int32_t number;
    bool toIntermediate;
    std::int32_t lon2;
    std::int32_t lat2;
    std::int16_t storedEle2; // as the point stores it
    std::int16_t ele2;       // interpolated where a waypoint is caught
    bool isStartpoint;
    std::int32_t dist = 0;
    bool stopAtEndpoint = false;
};

// What stays the same over the sections of one link.
struct OsmPath::LinkStep {
    const TrackPointMap* refTrack;
    bool detailMode;
    bool isReverse;
    // A cost factor of 9999 and above closes the way (but in detail mode).
    bool allowed;
    // The way costs nothing (a path's first way when it is a traffic backbone).
    bool isTrafficBackbone;
    std::int32_t classifierMask;
    std::int32_t lastPriorityClassifier;
    const util::ByteArray& wayTags;
    expressions::BExpressionContextWay& way;
};

namespace {

// The model's part of the link step for paths of any model: the path's
// virtual cost operations. Only the standard model estimates time in
// computeKinematic, so it is not asked here.
class VirtualPricing {
public:
    explicit VirtualPricing(OsmPath& path) noexcept : path_(path) {}

    void beginLink(const RoutingContext&) noexcept {}
    static bool readsTurnAngle() noexcept { return true; }
    static bool readsAngleItself() noexcept { return true; }
    double section(RoutingContext& rc, std::int32_t dist, double deltaH, std::int32_t /*climb*/, double elevation,
                   double angle, double cosAngle, bool isStartpoint, std::int32_t nsection,
                   std::int32_t lastPriorityClassifier) {
        return path_.processWaySection(rc, dist, deltaH, elevation, angle, cosAngle, isStartpoint, nsection,
                                       lastPriorityClassifier);
    }
    void afterSection(RoutingContext&, double, double, bool) noexcept {}
    double targetNode(RoutingContext& rc) { return path_.processTargetNode(rc); }

private:
    OsmPath& path_;
};

// The standard model's part, bound statically: its section price inline with
// the way's costs read once per link, its turn angle taken only where it can
// change the cost or is recorded.
class StdPricing {
public:
    explicit StdPricing(StdPath& path) noexcept : path_(path) {}

    void beginLink(const RoutingContext& rc) {
        // The link step asked for the way's costs before its sections.
        costs_ = &static_cast<StdModel&>(*rc.pathModel).lastWayCosts();
        readsTurnAngle_ = path_.readsTurnAngle(rc, *costs_);
        readsAngleItself_ = path_.readsAngleItself(rc);
    }
    bool readsTurnAngle() const noexcept { return readsTurnAngle_; }
    bool readsAngleItself() const noexcept { return readsAngleItself_; }
    // The climb in quarter metres, signed as deltaH: x 250000 it is deltaH x
    // 1000000 exactly (both within 2^53).
    double section(const RoutingContext& rc, std::int32_t dist, double /*deltaH*/, std::int32_t climb,
                   double /*elevation*/, double angle, double cosAngle, bool /*isStartpoint*/, std::int32_t nsection,
                   std::int32_t lastPriorityClassifier) {
        return path_.priceSection(rc, *costs_, dist, util::saturateToInt32(std::int64_t{climb} * 250000), angle,
                                  cosAngle, nsection, lastPriorityClassifier);
    }
    void afterSection(RoutingContext& rc, double dist, double deltaH, bool detailMode) {
        if (detailMode) path_.computeKinematic(rc, dist, deltaH, detailMode);
    }
    double targetNode(RoutingContext& rc) {
        return path_.getTargetNode()->nodeTags.isNull() ? 0.0 : path_.processTargetNode(rc);
    }

private:
    StdPath& path_;
    const StdPath::WayCosts* costs_ = nullptr;
    bool readsTurnAngle_ = true;
    bool readsAngleItself_ = true;
};

} // namespace

void OsmPath::LinkOutputs::read(std::span<const float> out) noexcept {
    using Way = expressions::BExpressionContextWay;
    costFactor = out[Way::COSTFACTOR];
    initialClassifier = out[Way::INITIALCLASSIFIER];
    initialCost = out[Way::INITIALCOST];
    classifierMask = toInt(out[Way::CLASSIFIERMASK]);
    priorityClassifier = toInt(out[Way::PRIORITYCLASSIFIER]);
    trafficBackbone = out[Way::ISTRAFFICBACKBONE] > 0.0f;
}

void OsmPath::addAddionalPenalty(const TrackPointMap* refTrack, bool detailMode, OsmPath& origin,
                                 mapaccess::OsmLink* nextLink, RoutingContext& rc) {
    const util::ByteArray& wayTags = nextLink->wayTags;
    if (wayTags.isNull()) {
        recordStraightLine();
        return;
    }

    const bool isReverse = nextLink->isReverse(sourceNode);
    rc.nogoCost = 0.0;
    if (detailMode) {
        message = std::make_shared<MessageData>();
    } else if (message) {
        message.reset();
    }
    expressions::BExpressionContextWay& way = *rc.expctxWay;
    way.evaluate(rc.inverseDirection != isReverse, wayTags);

    using Way = expressions::BExpressionContextWay;
    const std::span<const float> out = way.getOutputs();
    if (out.size() <= Way::CLASSIFIERMASK) (void)way.getOutput(Way::CLASSIFIERMASK); // fails
    LinkOutputs read;
    const LinkOutputs& outputs =
        pricedAsStdPath_ ? static_cast<StdModel&>(*rc.pathModel).wayCostsOf(way).link : (read.read(out), read);
    const LinkStep step{refTrack,
                        detailMode,
                        isReverse,
                        outputs.costFactor <= 9998.0f || detailMode,
                        cost == 0 && outputs.trafficBackbone,
                        outputs.classifierMask,
                        priorityClassifier,
                        wayTags,
                        way};
    priorityClassifier = outputs.priorityClassifier;
    if (!addInitialCost(outputs.initialClassifier, outputs.initialCost, rc.inverseDirection) ||
        !passDestinationArea(step.classifierMask)) {
        cost = -1;
        return;
    }

    const mapaccess::LinkShape* shape = rc.nogoPoints.empty() && nextLink->shape.present() ? &nextLink->shape : nullptr;
    if (!step.allowed && shape != nullptr) {
        // A closed way fails its first section. Walked over its shape, where
        // no waypoint is caught, that section would change nothing else.
        cost = -1;
        return;
    }
    LinkWalk walk{origin.prevIlon,
                  origin.prevIlat,
                  sourceNode->ilon,
                  sourceNode->ilat,
                  origin.selev,
                  0,
                  shape != nullptr
                      ? nullptr
                      : rc.geometryDecoder.decodeGeometry(nextLink->geometry, sourceNode, targetNode, isReverse),
                  shape,
                  isReverse,
                  shape != nullptr ? (shape->pointCount - 1) & -static_cast<std::int32_t>(isReverse) : 0};
    // Nearly every link is priced over its shape without records: that walk
    // has its own copy of the loop, with the rest folded away.
    const bool plain = shape != nullptr && !detailMode;
    if (pricedAsStdPath_) {
        StdPricing pricing(static_cast<StdPath&>(*this));
        plain ? walkSections<true>(pricing, step, walk, rc) : walkSections<false>(pricing, step, walk, rc);
    } else {
        VirtualPricing pricing(*this);
        plain ? walkSections<true>(pricing, step, walk, rc) : walkSections<false>(pricing, step, walk, rc);
    }
}

// Plain: the walk follows a shape (no no-go area or waypoint to catch), out
// of detail mode (no message).
template <bool Plain, class Pricing>
void OsmPath::walkSections(Pricing& pricing, const LinkStep& step, LinkWalk& walk, RoutingContext& rc) {
    const mapaccess::LinkShape* shape = walk.shape;
    const bool detailMode = !Plain && step.detailMode;
    const auto hasMessage = [this] { return !Plain && message != nullptr; };
    for (std::int32_t nsection = 0;; ++nsection) {
        Section section = beginSection<Plain>(walk, nsection);
        if (nsection == 0 && !detailMode && !section.isStartpoint && turnForbidden(rc, walk, section)) {
            cost = -1;
            return;
        }
        if (hasMessage() && message->wayTags) startSectionRecord();
        if (Plain || shape != nullptr) {
            section.dist = shape->sectionLength(walk.shapeSection());
        } else {
            section.dist = rc.calcDistance(walk.lon1, walk.lat1, section.lon2, section.lat2);
            if (rc.shortestMatch) catchWaypoint(rc, walk, section, step.detailMode);
        }
        if (hasMessage()) message->distance = util::saturateToInt32(std::int64_t{message->distance} + section.dist);
        if (section.isStartpoint) setStartReference(rc, walk, section);
        if (nsection == 0) pricing.beginLink(rc);

        // A model that cannot read the angle gets straight on.
        double angle = 0.0;
        double cosAngle = 1.0;
        if (pricing.readsTurnAngle()) {
            if ((Plain || shape != nullptr) && nsection > 0) {
                // The turn at the point behind: the shape's point the walk just passed.
                const std::int32_t passed = walk.point - walk.step();
                const mapaccess::ShapePoint& turn = shape->points[passed];
                angle = turn.angle(walk.backward);
                cosAngle = turn.cosine;
            } else if (pricing.readsAngleItself()) {
                angle = rc.anglemeter.calcAngle(walk.lon0, walk.lat0, walk.lon1, walk.lat1, section.lon2, section.lat2);
                cosAngle = rc.anglemeter.getCosAngle();
            } else {
                cosAngle =
                    rc.anglemeter.calcCosAngle(walk.lon0, walk.lat0, walk.lon1, walk.lat1, section.lon2, section.lat2);
            }
        }
        const std::int16_t ele2Known = section.ele2 == OsmNode::NO_ELEVATION ? walk.ele1 : section.ele2;
        std::int32_t climb = walk.ele1 == OsmNode::NO_ELEVATION ? 0 : ele2Known - walk.ele1; // quarter metres
        double deltaH = walk.ele1 == OsmNode::NO_ELEVATION ? 0.0 : climb * 0.25;
        if (rc.inverseDirection) {
            deltaH = -deltaH;
            climb = -climb;
        }
        const double elevation = ele2Known == OsmNode::NO_ELEVATION ? 100.0 : ele2Known * 0.25;

        const double sectionCost = pricing.section(rc, section.dist, deltaH, climb, elevation, angle, cosAngle,
                                                   section.isStartpoint, nsection, step.lastPriorityClassifier);
        // A closed way walked plainly has already failed before its sections.
        if (sectionCost < 0.0 || (!Plain && !step.allowed) || sectionCost + cost >= COST_LIMIT) {
            cost = -1;
            return;
        }
        // The sum stays below COST_LIMIT: no saturation needed.
        if (!step.isTrafficBackbone) cost += toInt(sectionCost);
        pricing.afterSection(rc, section.dist, deltaH, detailMode);
        if (hasMessage()) {
            recordSection(section, angle, step.classifierMask);
            message->wayTags = step.way.getKeyValueDescription(step.isReverse, step.wayTags);
        }

        if (!Plain && section.stopAtEndpoint) {
            endAtWaypoint(rc, detailMode, section.storedEle2);
            return;
        }
        if (!section.toIntermediate) {
            if (reachTarget(step.refTrack, rc, walk.linkDist, section.dist, ele2Known)) {
                addNodeCost(pricing.targetNode(rc));
            }
            return;
        }
        passGeometryPoint<Plain>(rc, walk, section, ele2Known, detailMode);
    }
}

template <bool Plain>
inline void OsmPath::passGeometryPoint(RoutingContext& rc, LinkWalk& walk, const Section& section,
                                       std::int16_t elevation, bool detailMode) {
    if (detailMode) {
        extendOrigin(
            OsmPathElement::create(section.lon2, section.lat2, section.storedEle2, originElement, rc.pathElements), rc);
        originElement->cost = cost;
    }
    walk.lon0 = walk.lon1;
    walk.lat0 = walk.lat1;
    walk.lon1 = section.lon2;
    walk.lat1 = section.lat2;
    walk.ele1 = elevation;
    walk.linkDist = util::saturateToInt32(std::int64_t{walk.linkDist} + section.dist);
    if (Plain || walk.shape != nullptr) {
        walk.point += walk.step();
    } else {
        walk.transfer = walk.transfer->next;
    }
}

inline void OsmPath::startSectionRecord() {
    // Every section after the first gets a record of its own; the point where
    // the previous one ended keeps the previous record.
    if (originElement != nullptr) originElement->message = message;
    message = std::make_shared<MessageData>();
}

inline void OsmPath::recordStraightLine() {
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
}

inline bool OsmPath::addInitialCost(float newClassifier, float newInitialCost, bool inverseDirection) {
    const float classifierDifference = newClassifier - lastClassifier;
    if (newClassifier != 0.0f && lastClassifier != 0.0f &&
        (classifierDifference > 0.0005 || classifierDifference < -0.0005)) {
        const float initialCost = inverseDirection ? lastInitialCost : newInitialCost;
        if (initialCost >= 1000000.0f) return false;
        const std::int32_t initialCostPart = toInt(initialCost);
        cost = util::saturateToInt32(std::int64_t{cost} + initialCostPart);
        if (message) message->initialCost = util::saturateToInt32(std::int64_t{message->initialCost} + initialCostPart);
    }
    lastClassifier = newClassifier;
    lastInitialCost = newInitialCost;
    return true;
}

inline bool OsmPath::passDestinationArea(std::int32_t classifierMask) {
    // A path may enter a destination-only area, but may leave one only when
    // it started inside (and then only once).
    const bool isDestination = (classifierMask & DESTINATION_WAY_MASK) != 0;
    if (hasBit(PATH_START_BIT)) {
        setBit(PATH_START_BIT, false);
        setBit(CAN_LEAVE_DESTINATION_BIT, isDestination);
        setBit(HAD_DESTINATION_START_BIT, isDestination);
    } else if (hasBit(IS_ON_DESTINATION_BIT) && !isDestination) {
        if (!hasBit(CAN_LEAVE_DESTINATION_BIT)) return false;
        setBit(CAN_LEAVE_DESTINATION_BIT, false);
    }
    setBit(IS_ON_DESTINATION_BIT, isDestination);
    return true;
}

template <bool Plain>
inline OsmPath::Section OsmPath::beginSection(const LinkWalk& walk, std::int32_t number) {
    prevIlon = walk.lon1;
    prevIlat = walk.lat1;
    const bool isStartpoint = walk.lon0 == -1 && walk.lat0 == -1;
    if (!(Plain ? walk.shapePointAhead() : walk.pointAhead())) {
        return Section{number,      false, targetNode->ilon, targetNode->ilat, targetNode->selev, targetNode->selev,
                       isStartpoint};
    }
    if (Plain || walk.shape != nullptr) {
        const mapaccess::ShapePoint& point = walk.shape->points[walk.point];
        return Section{number, true, point.lon, point.lat, point.elevation, point.elevation, isStartpoint};
    }
    const mapaccess::OsmTransferNode* transfer = walk.transfer;
    return Section{number, true, transfer->ilon, transfer->ilat, transfer->selev, transfer->selev, isStartpoint};
}

inline bool OsmPath::turnForbidden(const RoutingContext& rc, const LinkWalk& walk, const Section& section) const {
    if (!rc.considerTurnRestrictions || sourceNode->firstRestriction == nullptr) return false;
    const bool bikeOrFoot = rc.validForBikes || rc.validForFoot;
    return rc.inverseDirection
               ? mapaccess::TurnRestriction::isTurnForbidden(sourceNode->firstRestriction, section.lon2, section.lat2,
                                                             walk.lon0, walk.lat0, bikeOrFoot, rc.validForCars)
               : mapaccess::TurnRestriction::isTurnForbidden(sourceNode->firstRestriction, walk.lon0, walk.lat0,
                                                             section.lon2, section.lat2, bikeOrFoot, rc.validForCars);
}

inline void OsmPath::catchWaypoint(RoutingContext& rc, LinkWalk& walk, Section& section, bool detailMode) {
    if (rc.isEndpoint) {
        section.stopAtEndpoint = true;
        section.ele2 = interpolateEle(walk.ele1, section.ele2, rc.wayFraction);
        return;
    }
    // The path starts here, at the caught waypoint.
    cost = 0;
    resetState();
    walk.lon0 = -1;
    walk.lat0 = -1;
    section.isStartpoint = true;
    if (detailMode) {
        if (rc.wayFraction > 0.0) {
            walk.ele1 = interpolateEle(walk.ele1, section.ele2, 1.0 - rc.wayFraction);
            extendOrigin(OsmPathElement::create(rc.ilonShortest, rc.ilatShortest, walk.ele1, nullptr, rc.pathElements),
                         rc);
        } else {
            extendOrigin(nullptr, rc); // the start is the section's end: no duplicate point
        }
    }
    if (!rc.pendingEndpoint) return;
    // The end lies on the same segment: it is caught from here on.
    rc.isEndpoint = true;
    if (rc.nogoPoints.empty()) {
        rc.nogoPoints.push_back(rc.pendingEndpoint);
    } else {
        rc.nogoPoints[0] = rc.pendingEndpoint;
    }
    rc.pendingEndpoint = nullptr;
    section.dist = rc.calcDistance(rc.ilonShortest, rc.ilatShortest, section.lon2, section.lat2);
    if (rc.shortestMatch) {
        section.stopAtEndpoint = true;
        section.ele2 = interpolateEle(walk.ele1, section.ele2, rc.wayFraction);
    }
}

inline void OsmPath::setStartReference(const RoutingContext& rc, LinkWalk& walk, const Section& section) {
    if (rc.startDirectionValid && rc.startDirection) {
        const double direction = *rc.startDirection * 0.017453292519943295;
        const util::CheapRuler::Scales& scales = util::CheapRuler::scalesAt(walk.lat1);
        walk.lon0 = wrapSub(walk.lon1, toInt(1000.0 * std::sin(direction) / scales.kx));
        walk.lat0 = wrapSub(walk.lat1, toInt(1000.0 * std::cos(direction) / scales.ky));
    } else {
        walk.lon0 = wrapSub(walk.lon1, wrapSub(section.lon2, walk.lon1));
        walk.lat0 = wrapSub(walk.lat1, wrapSub(section.lat2, walk.lat1));
    }
}

inline void OsmPath::recordSection(const Section& section, double angle, std::int32_t classifierMask) {
    message->turnAngle = static_cast<float>(angle);
    message->time = static_cast<float>(getTotalTime());
    message->energy = static_cast<float>(getTotalEnergy());
    message->priorityClassifier = priorityClassifier;
    message->classifierMask = classifierMask;
    message->ilon = section.lon2;
    message->ilat = section.lat2;
    message->elevation = section.storedEle2;
}

inline void OsmPath::endAtWaypoint(RoutingContext& rc, bool detailMode, std::int16_t storedEle2) {
    if (detailMode) {
        extendOrigin(
            OsmPathElement::create(rc.ilonShortest, rc.ilatShortest, storedEle2, originElement, rc.pathElements), rc);
        originElement->cost = cost;
        if (message) originElement->message = message;
    }
    cost = rc.nogoCost < 0.0 ? -1 : toInt(cost + rc.nogoCost);
}

inline bool OsmPath::reachTarget(const TrackPointMap* refTrack, RoutingContext& rc, std::int32_t linkDist,
                                 std::int32_t lastDist, std::int16_t elevation) {
    if (refTrack != nullptr && refTrack->contains(targetNode->getIdFromPos()) &&
        refTrack->contains(sourceNode->getIdFromPos())) {
        // The link belongs to an earlier alternative: its whole length is charged again.
        cost = util::saturateToInt32(std::int64_t{cost} + linkDist + lastDist);
    }
    selev = elevation;

    if (rc.nogoCost < 0.0) {
        cost = -1;
        return false;
    }
    if (rc.nogoCost != 0.0) cost = toInt(cost + rc.nogoCost); // cost + 0.0 is cost again
    return true;
}

inline void OsmPath::addNodeCost(double nodeCost) {
    if (nodeCost < 0.0 || nodeCost + cost >= COST_LIMIT) {
        cost = -1;
        return;
    }
    if (nodeCost != 0.0) cost += toInt(nodeCost); // stays below COST_LIMIT
}

} // namespace ferrow::router
