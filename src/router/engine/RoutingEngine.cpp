#include "router/engine/RoutingEngine.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "mapaccess/OsmNodesMap.h"
#include "router/costing/OsmPath.h"
#include "router/costing/OsmPrePath.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingIslandException.h"
#include "router/engine/SearchCutShortException.h"
#include "router/waypoints/OsmNogoPolygon.h"
#include "util/CheapRuler.h"
#include "util/Saturate.h"
#include "util/ScopeExit.h"

namespace ferrow::router {

using mapaccess::MatchedWaypoint;
using mapaccess::OsmLink;
using mapaccess::OsmLinkHolder;
using mapaccess::OsmNode;

namespace {

constexpr std::int32_t kNoCostBound = 1000000000;
constexpr std::int32_t kStepsPerClockRead = 64;
// Bytes the memory estimate counts per queued path and per graph node.
constexpr std::int64_t kBytesPerQueuedPath = 200;
constexpr std::int64_t kBytesPerNode = 95;

// Whether a link of node leads to a node whose tile is not decoded yet.
bool hasHollowLinkTargets(const OsmNode& node) {
    for (const OsmLink* link = node.firstLink; link != nullptr; link = link->getNext(&node)) {
        const OsmNode* target = link->getTarget(&node);
        if (target != nullptr && target->isHollow()) return true;
    }
    return false;
}

// Both end references still set: the link can still be taken from either end.
bool isBidirectional(const OsmLink& link) { return link.firstNode != nullptr && link.secondNode != nullptr; }

// Whether the link still leads away from source (it was not released there,
// nor at both ends).
bool isUsableFrom(const OsmLink& link, const OsmNode* source) {
    return (link.secondNode != nullptr && link.secondNode != source) ||
           (link.firstNode != nullptr && link.firstNode != source);
}

// Kept out of the search loop, which checks the time at every step.
[[noreturn]] void throwKilled(std::int64_t elapsedMillis) {
    throw SearchCutShortException("operation killed by thread-priority-watchdog after " +
                                  std::to_string(elapsedMillis / 1000) + " seconds");
}

[[noreturn]] void throwTimeout(const std::string& operationName, std::int64_t timeoutMillis) {
    throw SearchCutShortException(operationName + " timeout after " + std::to_string(timeoutMillis / 1000) +
                                  " seconds");
}

const MatchedWaypoint& requireMatched(const MatchedWaypoint& waypoint) {
    if (!waypoint.crossPoint || !waypoint.node1 || !waypoint.node2) {
        throw jcompat::IllegalArgumentException("a search waypoint was not matched to a way segment");
    }
    return waypoint;
}

std::shared_ptr<OsmNodeNamed> pointAt(const OsmNode& position) {
    auto point = std::make_shared<OsmNodeNamed>();
    point->ilon = position.ilon;
    point->ilat = position.ilat;
    point->selev = OsmNode::NO_ELEVATION;
    return point;
}

// A copy of a search's track point for a track, sharing its message.
std::shared_ptr<OsmPathElement> copyForTrack(const OsmPathElement& element) {
    auto copy = std::make_shared<OsmPathElement>(element);
    copy->origin = nullptr;
    return copy;
}

// A copy of a detour point for a track, with its chain back to the first
// point after the junction and that point's origin at the junction (the
// turn instructions read the section by which the detour leaves). The chain
// lives in one block that the returned pointer keeps alive.
std::shared_ptr<OsmPathElement> copyDetourForTrack(const OsmPathElement& element, const OsmNode& junction) {
    auto chain = std::make_shared<std::vector<OsmPathElement>>();
    for (const OsmPathElement* point = &element; point != nullptr; point = point->origin) {
        chain->push_back(*point);
        if (point->origin != nullptr && point->origin->ilon == junction.ilon && point->origin->ilat == junction.ilat) {
            chain->push_back(*point->origin);
            break;
        }
    }
    for (std::size_t i = 0; i < chain->size(); ++i) {
        (*chain)[i].origin = i + 1 < chain->size() ? &(*chain)[i + 1] : nullptr;
    }
    return std::shared_ptr<OsmPathElement>(chain, chain->data());
}

} // namespace

bool RoutingEngine::nogoHolds(const OsmNodeNamed& nogo, const OsmNode& position) {
    if (!(nogo.radius > nogo.calcDistance(position))) return false;
    if (const OsmNogoPolygon* polygon = nogo.asPolygon()) {
        return polygon->isClosed ? polygon->isWithin(position.ilon, position.ilat)
                                 : polygon->isOnPolyline(position.ilon, position.ilat);
    }
    return true;
}

RoutingEngine::RoutingEngine(jcompat::File segmentDir, OsmNodeNamedList waypoints, RoutingContext& rc,
                             std::int32_t engineMode)
    : segmentDir_(std::move(segmentDir)),
      waypoints_(std::move(waypoints)),
      routingContext_(rc),
      engineMode_(engineMode),
      foundTrack_(std::make_shared<OsmTrack>()) {
    openBorderList_.reserve(4096);
    ProfileCache::parseProfile(rc);
}

RoutingEngine::~RoutingEngine() = default;

void RoutingEngine::resetCache(bool detailed) {
    RoutingContext& rc = routingContext_;
    if (rc.expctxWay == nullptr || !rc.profile) {
        throw jcompat::IllegalStateException("a search needs the profile's contexts");
    }
    const std::int64_t budget = std::int64_t{rc.memoryClass} * 1048576;
    nodesCache_ = std::make_unique<mapaccess::NodesCache>(segmentDir_, *rc.expctxWay, rc.profile->meta,
                                                          rc.forceSecondaryData, budget, nodesCache_.get(), detailed);
    islandNodePairs_.clearTempPairs();
}

std::shared_ptr<OsmTrack> RoutingEngine::findTrack(const std::string& operationName, const MatchedWaypoint& startWp,
                                                   const MatchedWaypoint* endWp, const OsmTrack* costCuttingTrack,
                                                   const OsmTrack* refTrack, bool fastPartialRecalc,
                                                   const SearchSettings& settings) {
    RoutingContext& rc = routingContext_;
    requireMatched(startWp);
    if (endWp != nullptr) requireMatched(*endWp);

    // The full list, which the end of the search restores.
    rc.nogoPointsAll = rc.nogoPoints;
    OsmNodeNamedList nogos;
    for (const std::shared_ptr<OsmNodeNamed>& nogo : rc.nogoPoints) {
        if (nogoHolds(*nogo, *startWp.crossPoint) || (endWp != nullptr && nogoHolds(*nogo, *endWp->crossPoint))) {
            continue;
        }
        nogos.push_back(nogo);
    }
    rc.nogoPoints = std::move(nogos);

    settings_ = settings;
    rc.inverseDirection = settings.inverseDirection;
    reachedNodeLimit_ = false;
    const auto end = util::onScopeExit([this] { endSearch(); });
    resetCache(settings_.guideTrack != nullptr);
    nodesCache_->nodesMap().cleanupMode = settings_.guideTrack ? 0 : rc.considerTurnRestrictions ? 2 : 1;
    return _findTrack(operationName, startWp, endWp, costCuttingTrack, refTrack, fastPartialRecalc);
}

void RoutingEngine::endSearch() {
    RoutingContext& rc = routingContext_;
    settings_ = {};
    rc.inverseDirection = false;
    rc.restoreNogoList();
    if (nodesCache_) {
        nodesCache_->nodesMap().destination = nullptr;
        nodesCache_->clean(false);
    }
    keepMatchPath();
    openSet_.clear();
    openBorderList_.clear();
    rc.releaseSearchMemory();
}

void RoutingEngine::keepMatchPath() {
    if (!matchPathInSearch_) return;
    matchPathInSearch_ = false;
    std::deque<OsmPathElement> chain;
    for (const OsmPathElement* element = matchPath_; element != nullptr; element = element->origin) {
        chain.push_back(*element);
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        chain[i].origin = i + 1 < chain.size() ? &chain[i + 1] : nullptr;
    }
    matchPathChain_ = std::move(chain); // moving a deque keeps its elements in place
    matchPath_ = matchPathChain_.empty() ? nullptr : &matchPathChain_.front();
}

OsmPath* RoutingEngine::getStartPath(OsmNode* fromNode, OsmNode* toNode, const MatchedWaypoint& waypoint,
                                     const std::shared_ptr<OsmNodeNamed>& endPos, bool sameSegmentSearch) {
    RoutingContext& rc = routingContext_;
    if (endPos) endPos->radius = 1.5;
    std::shared_ptr<OsmNodeNamed> waypointPoint = pointAt(*waypoint.crossPoint);
    const std::shared_ptr<OsmNodeNamed> pendingEnd = sameSegmentSearch ? endPos : nullptr;
    rc.setWaypoint(waypointPoint, pendingEnd, false);
    const auto unset = util::onScopeExit([&rc] { rc.unsetWaypoint(); });

    OsmPath* bestPath = nullptr;
    OsmLink* startLink = nodesCache_->nodesMap().createLink();
    startLink->secondNode = fromNode;
    OsmPath* startPath = rc.createPath(startLink);
    startLink->addLinkHolder(startPath, nullptr);

    // Where several ways join the two nodes and the start lies on more than
    // one (at a node), the one nearest to the hint is the start's way: the
    // end on the same segment, or the point a search along it is about.
    const OsmNode* const hint = settings_.startWayHint != nullptr ? settings_.startWayHint : pendingEnd.get();
    double minRadius = 1e10;
    double bestHintDistance = 0.0;
    OsmLink* bestLink = nullptr;
    bool bestCatchesEnd = false;
    for (OsmLink* link = fromNode->firstLink; link != nullptr; link = link->getNext(fromNode)) {
        OsmNode* nextNode = link->getTarget(fromNode);
        if (nextNode == nullptr || nextNode->isHollow() || !nextNode->hasLinks() || nextNode == fromNode ||
            nextNode != toNode) {
            continue;
        }
        // Each way between the two nodes catches the start and the end afresh.
        if (bestLink != nullptr) {
            if (endPos) endPos->radius = 1.5;
            rc.unsetWaypoint();
            rc.setWaypoint(waypointPoint, pendingEnd, false);
        }
        waypointPoint->radius = 1.5;
        OsmPath* candidate = rc.createPath(*startPath, link, nullptr, settings_.guideTrack != nullptr);
        candidate->airDistance = endPos ? nextNode->calcDistance(*endPos) : 0;
        bool better = waypointPoint->radius < minRadius;
        double hintDistance = 0.0;
        if (bestLink == nullptr || better) {
            if (hint != nullptr) hintDistance = distanceToLink(*link, *fromNode, *toNode, *hint);
        } else if (hint != nullptr && waypointPoint->radius == minRadius) {
            hintDistance = distanceToLink(*link, *fromNode, *toNode, *hint);
            better = hintDistance < bestHintDistance;
        }
        if (bestLink == nullptr || better) {
            rc.releasePath(bestPath);
            bestPath = candidate;
            minRadius = waypointPoint->radius;
            bestHintDistance = hintDistance;
            bestLink = link;
            bestCatchesEnd = pendingEnd && endPos->radius < 1.5;
        } else {
            rc.releasePath(candidate);
        }
    }
    if (bestLink != nullptr) bestLink->addLinkHolder(bestPath, fromNode);
    if (bestPath != nullptr) {
        // The end lies on this very segment, ahead of the start: the first
        // path taken ends the search.
        bestPath->treeDepth = bestPath->cost >= 0 && bestCatchesEnd ? 0 : 1;
    }
    return bestPath;
}

std::int32_t RoutingEngine::openSetKey(const OsmPath& path) const {
    return util::saturateToInt32(std::int64_t{path.cost} + jcompat::toInt(airDistanceCostFactor_ * path.airDistance));
}

void RoutingEngine::recycleIfDetached(OsmPath* path) {
    // Released at its source, the link no longer holds the path: nothing
    // refers to it any more.
    if (!isUsableFrom(*path->link, path->sourceNode)) routingContext_.releasePath(path);
}

void RoutingEngine::addToOpenset(OsmPath* path) {
    if (path->cost >= 0) openSet_.add(openSetKey(*path), path);
}

// What the steps of one search (_findTrack) share.
struct RoutingEngine::SearchState {
    const std::string& operationName;
    const OsmTrack* costCuttingTrack;
    // The reference track's points: links between them are charged again.
    const TrackPointMap* refPoints;
    OsmTrack* guideTrack;
    bool fastPartialRecalc;
    // Counts down when positive; the search gives up at 0.
    std::int32_t nodeLimit;
    std::int32_t maxTotalCost;
    std::int32_t firstMatchCost = kNoCostBound;
    OsmNode* end1 = nullptr;
    OsmNode* end2 = nullptr;
    std::shared_ptr<OsmNodeNamed> endPos = nullptr;
    std::int64_t startId1 = 0;
    std::int64_t startId2 = 0;
    // Of several ways between the end nodes, the one nearest the end point;
    // null while not chosen, or when only one joins them.
    const OsmLink* endLink = nullptr;
    bool endLinkChosen = false;
    // The memory fall-back parks paths in the border list until the open set runs dry.
    bool memoryPanicMode = false;
    bool needNonPanicProcessing = false;
    std::int32_t nodesVisited = 0;
    // Steps until the clock is read again.
    std::int32_t stepsToClock = 0;
};

std::shared_ptr<OsmTrack> RoutingEngine::_findTrack(const std::string& operationName, const MatchedWaypoint& startWp,
                                                    const MatchedWaypoint* endWp, const OsmTrack* costCuttingTrack,
                                                    const OsmTrack* refTrack, bool fastPartialRecalc) {
    SearchState search{.operationName = operationName,
                       .costCuttingTrack = costCuttingTrack,
                       .refPoints = refTrack != nullptr ? refTrack->pointMap.get() : nullptr,
                       .guideTrack = settings_.guideTrack,
                       .fastPartialRecalc = fastPartialRecalc,
                       .nodeLimit = settings_.nodeLimit,
                       .maxTotalCost = settings_.guideTrack
                                           ? util::saturateToInt32(std::int64_t{settings_.guideTrack->cost} + 5000)
                                           : kNoCostBound};
    lastVisitedCount_ = 0;
    lastCollectionCount_ = 0;
    if (!startSearch(search, startWp, endWp)) return nullptr;

    while (OsmPath* path = nextOpenPath(search)) {
        if (!checkMemory(search, *path)) continue;
        checkEarlyExit(search, *path);
        if (search.nodeLimit > 0 && --search.nodeLimit == 0) {
            reachedNodeLimit_ = true;
            return nullptr;
        }
        lastVisitedCount_ = ++search.nodesVisited;
        if (!path->didEnterDestinationArea()) {
            islandNodePairs_.addTempPair(path->sourceNode->getIdFromPos(), path->targetNode->getIdFromPos());
        }
        if (path->treeDepth != 1) {
            if (path->treeDepth == 0) path->treeDepth = 1;
            if (linksEnds(search, *path->sourceNode, *path->targetNode) && isEndLink(search, path->link)) {
                return finishTrack(*path);
            }
            if (search.costCuttingTrack != nullptr) cutCosts(search, *path);
        }
        OsmLinkHolder* arrivals = closeLink(*path);
        // A path that cannot come in under the cost bound goes no further.
        if (std::int64_t{path->cost} + path->airDistance <= std::int64_t{search.maxTotalCost} + 100) {
            expand(search, *path, arrivals);
        }
        recycleIfDetached(path);
    }

    if (search.nodesVisited < MAXNODES_ISLAND_CHECK && islandNodePairs_.getFreezeCount() < MAX_ISLAND_FREEZES) {
        throw RoutingIslandException();
    }
    return nullptr;
}

inline bool RoutingEngine::startSearch(SearchState& search, const MatchedWaypoint& startWp,
                                       const MatchedWaypoint* endWp) {
    RoutingContext& rc = routingContext_;
    mapaccess::OsmNodesMap& nodesMap = nodesCache_->nodesMap();
    OsmNode* start1 = nodesCache_->getGraphNode(*startWp.node1);
    OsmNode* start2 = nodesCache_->getGraphNode(*startWp.node2);
    search.end1 = endWp != nullptr ? nodesCache_->getGraphNode(*endWp->node1) : nullptr;
    search.end2 = endWp != nullptr ? nodesCache_->getGraphNode(*endWp->node2) : nullptr;
    nodesMap.endNode1 = search.end1;
    nodesMap.endNode2 = search.end2;
    search.endPos = endWp != nullptr ? pointAt(*endWp->crossPoint) : nullptr;
    const bool sameSegmentSearch = search.end1 != nullptr && linksEnds(search, *start1, *start2);

    if (!nodesCache_->obtainNonHollowNode(start1)) return false;
    nodesCache_->expandHollowLinkTargets(start1);
    if (!nodesCache_->obtainNonHollowNode(start2)) return false;
    nodesCache_->expandHollowLinkTargets(start2);

    rc.startDirectionValid = search.fastPartialRecalc || rc.forceUseStartDirection;
    OsmPath* startPath1 = getStartPath(start1, start2, startWp, search.endPos, sameSegmentSearch);
    OsmPath* startPath2 = getStartPath(start2, start1, startWp, search.endPos, sameSegmentSearch);
    search.startId1 = start1->getIdFromPos();
    search.startId2 = start2->getIdFromPos();

    // A start path on the cost-cutting track: how far the search is from it at most.
    const auto initialMatch = [&search](const OsmPath* startPath, std::int64_t fromId, std::int64_t toId) {
        if (startPath == nullptr || search.costCuttingTrack == nullptr) return;
        if (const OsmPathElement* element = search.costCuttingTrack->getLink(fromId, toId)) {
            const std::int64_t c = std::max<std::int64_t>(0, std::int64_t{startPath->cost} - element->cost);
            search.firstMatchCost = std::min(search.firstMatchCost, util::saturateToInt32(c));
        }
    };
    initialMatch(startPath1, search.startId1, search.startId2);
    initialMatch(startPath2, search.startId2, search.startId1);
    if (startPath1 == nullptr || startPath2 == nullptr) return false;

    openSet_.clear();
    addToOpenset(startPath1);
    addToOpenset(startPath2);
    openBorderList_.clear();
    return true;
}

inline bool RoutingEngine::linksEnds(const SearchState& search, const OsmNode& a, const OsmNode& b) {
    return (&a == search.end1 && &b == search.end2) || (&a == search.end2 && &b == search.end1);
}

inline bool RoutingEngine::isEndLink(SearchState& search, const OsmLink* link, const OsmNode* from, const OsmNode* to) {
    if (!search.endLinkChosen && from != nullptr) chooseEndLink(search, *from, *to);
    return search.endLink == nullptr || link == search.endLink;
}

void RoutingEngine::chooseEndLink(SearchState& search, const OsmNode& from, const OsmNode& to) {
    search.endLinkChosen = true;
    // Only where two ways join the end nodes does "the end segment" need more
    // than the two nodes: it is the way that passes nearest the end point.
    double nearest = 0.0;
    int ways = 0;
    for (const OsmLink* link = from.firstLink; link != nullptr; link = link->getNext(&from)) {
        if (link->getTarget(&from) != &to) continue;
        const double distance = distanceToLink(*link, from, to, *search.endPos);
        if (++ways == 1 || distance < nearest) {
            nearest = distance;
            search.endLink = link;
        } else if (distance == nearest) {
            search.endLink = nullptr; // no way nearer than the others: each one ends the search
        }
    }
    if (ways < 2) search.endLink = nullptr;
}

double RoutingEngine::distanceToLink(const OsmLink& link, const OsmNode& from, const OsmNode& to,
                                     const OsmNode& point) {
    const util::CheapRuler::Scales& scales = util::CheapRuler::scalesAt(point.ilat);
    const auto x = [&](std::int32_t ilon) { return scales.kx * jcompat::wrapSub(ilon, point.ilon); };
    const auto y = [&](std::int32_t ilat) { return scales.ky * jcompat::wrapSub(ilat, point.ilat); };
    double nearest = std::hypot(x(from.ilon), y(from.ilat));
    double x1 = x(from.ilon);
    double y1 = y(from.ilat);
    const auto reach = [&](std::int32_t ilon, std::int32_t ilat) {
        const double x2 = x(ilon);
        const double y2 = y(ilat);
        const double dx = x2 - x1;
        const double dy = y2 - y1;
        const double length2 = dx * dx + dy * dy;
        const double t = length2 > 0.0 ? std::clamp(-(x1 * dx + y1 * dy) / length2, 0.0, 1.0) : 0.0;
        nearest = std::min(nearest, std::hypot(x1 + t * dx, y1 + t * dy));
        x1 = x2;
        y1 = y2;
    };
    for (const mapaccess::OsmTransferNode* shape =
             routingContext_.geometryDecoder.decodeGeometry(link.geometry, &from, &to, link.isReverse(&from));
         shape != nullptr; shape = shape->next) {
        reach(shape->ilon, shape->ilat);
    }
    reach(to.ilon, to.ilat);
    return nearest;
}

inline OsmPath* RoutingEngine::nextOpenPath(SearchState& search) {
    for (;;) {
        checkTime(search);
        OsmPath* path = openSet_.popLowest();
        if (path == nullptr) {
            if (openBorderList_.empty()) return nullptr;
            // The open set ran dry: the parked paths go on, memory permitting.
            for (OsmPath* borderPath : openBorderList_) addToOpenset(borderPath);
            openBorderList_.clear();
            search.memoryPanicMode = false;
            search.needNonPanicProcessing = true;
            continue;
        }
        if (path->airDistance != -1) return path;
        recycleIfDetached(path); // closed
    }
}

inline void RoutingEngine::checkTime(SearchState& search) const {
    if (isTerminated()) throwKilled(jcompat::currentTimeMillis() - startTime_);
    if (maxRunningTime_ <= 0) return;
    // A step takes microseconds: reading the clock every 64th keeps a timeout
    // to well within a millisecond and the clock out of the inner loop.
    if (--search.stepsToClock > 0) return;
    search.stepsToClock = kStepsPerClockRead;
    const std::int64_t timeout =
        matchPath_ == nullptr && search.fastPartialRecalc ? maxRunningTime_ / 3 : maxRunningTime_;
    if (jcompat::currentTimeMillis() - startTime_ > timeout) throwTimeout(search.operationName, timeout);
}

inline bool RoutingEngine::checkMemory(SearchState& search, OsmPath& path) {
    if (!directWeaving_) return true;
    mapaccess::OsmNodesMap& nodesMap = nodesCache_->nodesMap();
    const auto need = [&] {
        return kBytesPerQueuedPath * openSet_.size() + kBytesPerNode * std::int64_t{nodesMap.nodeCount};
    };
    // Within the allowance and out of panic the check ends the same whether
    // or not the path leads towards tiles not decoded yet: asked first, the
    // cheap question spares the walk over the neighbours.
    if (!search.memoryPanicMode && !search.needNonPanicProcessing && nodesMap.memoryAllowance >= need()) return true;
    // Only a path towards tiles not decoded yet can make the graph grow.
    if (!hasHollowLinkTargets(*path.targetNode)) return true;
    if (search.memoryPanicMode) {
        openBorderList_.push_back(&path);
        return false;
    }
    if (nodesMap.memoryAllowance < need()) {
        collectOpenPaths(search.maxTotalCost, path, search.endPos.get());
        if (!nodesMap.growMemoryAllowance(need())) {
            if (search.maxTotalCost < kNoCostBound || search.needNonPanicProcessing || search.fastPartialRecalc) {
                throw SearchCutShortException("memory limit reached");
            }
            search.memoryPanicMode = true;
            openBorderList_.push_back(&path);
            return false;
        }
    }
    search.needNonPanicProcessing = false;
    return true;
}

inline void RoutingEngine::checkEarlyExit(SearchState& search, const OsmPath& path) {
    const OsmTrack* track = search.costCuttingTrack;
    if (!search.fastPartialRecalc || matchPath_ == nullptr || path.cost <= std::int64_t{30} * search.firstMatchCost ||
        track == nullptr || track->dirty) {
        return;
    }
    const std::int64_t now = jcompat::currentTimeMillis();
    if (path.cost > search.maxTotalCost / 2 && now - startTime_ < maxRunningTime_ / 3) {
        // Far from a close recalculation, and time enough: finish the search.
        startTime_ = now;
        search.fastPartialRecalc = false;
        return;
    }
    throw SearchCutShortException("early exit for a close recalc");
}

inline std::shared_ptr<OsmTrack> RoutingEngine::finishTrack(OsmPath& path) {
    std::shared_ptr<OsmTrack> track = compileTrack(path);
    track->showspeed = routingContext_.showspeed;
    track->showSpeedProfile = routingContext_.showSpeedProfile;
    return track;
}

inline void RoutingEngine::cutCosts(SearchState& search, OsmPath& path) {
    const OsmTrack& track = *search.costCuttingTrack;
    const OsmPathElement* element = track.getLink(path.sourceNode->getIdFromPos(), path.targetNode->getIdFromPos());
    if (element == nullptr) return;
    // The path runs over the older track: its rest bounds the cost from here.
    const std::int64_t parentCost = path.originElement != nullptr ? path.originElement->cost : 0;
    const std::int64_t c = std::max<std::int64_t>(0, path.cost - parentCost - element->cost) + parentCost;
    search.firstMatchCost = std::min(search.firstMatchCost, util::saturateToInt32(c));
    const std::int64_t estimate =
        std::int64_t{path.cost} + path.elevationCorrection() + (std::int64_t{track.cost} - element->cost);
    if (estimate <= search.maxTotalCost) {
        matchPath_ = OsmPathElement::create(path, routingContext_.pathElements);
        matchPathInSearch_ = true;
    }
    if (estimate < search.maxTotalCost) search.maxTotalCost = util::saturateToInt32(estimate);
}

inline OsmLinkHolder* RoutingEngine::closeLink(OsmPath& path) {
    // Every path that arrived over this link is done with; they stay in the
    // open set, marked, and are expanded together now.
    OsmLink* link = path.link;
    OsmLinkHolder* arrivals = link->getFirstLinkHolder(path.sourceNode);
    for (OsmLinkHolder* holder = arrivals; holder != nullptr; holder = holder->getNextForLink()) {
        static_cast<OsmPath*>(holder)->airDistance = -1;
    }
    if (path.treeDepth <= 1) return arrivals;
    const bool bidirectional = isBidirectional(*link);
    path.sourceNode->unlinkLink(link);
    // The way back is released as well when no path took it yet (with turn
    // restrictions it may still be needed from there).
    if (bidirectional && link->getFirstLinkHolder(path.targetNode) == nullptr &&
        !routingContext_.considerTurnRestrictions) {
        path.targetNode->unlinkLink(link);
    }
    return arrivals;
}

inline OsmNode* RoutingEngine::nextNodeOver(OsmLink& link, const OsmPath& path) {
    OsmNode* next = link.getTarget(path.targetNode);
    // Back to the source only over another way between the two.
    if (next == nullptr || (next == path.sourceNode && &link == path.link) || !nodesCache_->obtainNonHollowNode(next) ||
        !next->hasLinks()) {
        return nullptr;
    }
    return next;
}

inline void RoutingEngine::expand(SearchState& search, OsmPath& path, OsmLinkHolder* arrivals) {
    RoutingContext& rc = routingContext_;
    mapaccess::OsmNodesMap& nodesMap = nodesCache_->nodesMap();
    nodesMap.costLimit = search.maxTotalCost;
    nodesMap.currentPathCost = path.cost;
    nodesMap.destination = search.endPos.get();

    // Read once: the calls below may change anything as far as the compiler knows.
    OsmNode* const currentNode = path.targetNode;
    const OsmNode* const end1 = search.end1;
    const OsmNode* const end2 = search.end2;
    const OsmNodeNamed* const endPos = search.endPos.get();
    const bool atEnd = end1 != nullptr && (currentNode == end1 || currentNode == end2);

    // The model's look-ahead over every way on from here (kinematic models).
    rc.clearPrePaths();
    for (OsmLink* link = currentNode->firstLink; link != nullptr; link = link->getNext(currentNode)) {
        if (nextNodeOver(*link, path) == nullptr) continue;
        if (OsmPrePath* prePath = rc.createPrePath(path, link)) {
            prePath->next = rc.firstPrePath;
            rc.firstPrePath = prePath;
        }
    }
    for (OsmLink* link = currentNode->firstLink; link != nullptr; link = link->getNext(currentNode)) {
        OsmNode* nextNode = nextNodeOver(*link, path);
        if (nextNode == nullptr || !followsGuide(search, path, *link, *nextNode)) continue;
        const bool isFinalLink =
            atEnd && (nextNode == end1 || nextNode == end2) && isEndLink(search, link, currentNode, nextNode);
        OsmPath* bestPath = bestExtension(search, arrivals, link, isFinalLink);
        if (bestPath == nullptr) continue;
        bestPath->airDistance = isFinalLink || endPos == nullptr ? 0 : nextNode->calcDistance(*endPos);
        if ((!isFinalLink && beyondCostBound(search, *bestPath)) || isDominated(*bestPath, *link, *currentNode)) {
            rc.releasePath(bestPath);
            continue;
        }
        bestPath->treeDepth = path.treeDepth + 1;
        link->addLinkHolder(bestPath, currentNode);
        addToOpenset(bestPath);
    }
}

inline bool RoutingEngine::followsGuide(const SearchState& search, OsmPath& path, OsmLink& link,
                                        const OsmNode& nextNode) {
    OsmTrack* guide = search.guideTrack;
    if (guide == nullptr) return true;
    RoutingContext& rc = routingContext_;
    const auto size = static_cast<std::int64_t>(guide->points.size());
    const std::int64_t guideIndex = rc.inverseDirection ? size - path.treeDepth - 2 : std::int64_t{path.treeDepth} + 1;
    if (guideIndex < 0 || guideIndex >= size) return false; // beyond the guide track
    const std::int64_t nextId = nextNode.getIdFromPos();
    if (nextId == guide->points[static_cast<std::size_t>(guideIndex)]->getIdFromPos()) return true;
    // Off the guide track: remembered as a detour for the turn instructions.
    if (rc.turnInstructionMode > 0) {
        OsmPath* detour = rc.createPath(path, &link, search.refPoints, true);
        if (detour->cost >= 0 && nextId != search.startId1 && nextId != search.startId2) {
            guide->registerDetourForId(
                path.targetNode->getIdFromPos(),
                copyDetourForTrack(*OsmPathElement::create(*detour, rc.pathElements), *path.targetNode));
        }
        rc.releasePath(detour);
    }
    return false;
}

inline OsmPath* RoutingEngine::bestExtension(const SearchState& search, OsmLinkHolder* arrivals, OsmLink* link,
                                             bool isFinalLink) {
    RoutingContext& rc = routingContext_;
    const bool detailMode = search.guideTrack != nullptr;
    OsmPath* bestPath = nullptr;
    // Every path that arrived over the closed link, extended over this one.
    for (OsmLinkHolder* holder = arrivals; holder != nullptr; holder = holder->getNextForLink()) {
        auto* otherPath = static_cast<OsmPath*>(holder);
        OsmPath* testPath;
        if (isFinalLink) {
            // The end point is caught on the last link.
            search.endPos->radius = 1.5;
            rc.setWaypoint(search.endPos, nullptr, true);
            const auto unset = util::onScopeExit([&rc] { rc.unsetWaypoint(); });
            testPath = rc.createPath(*otherPath, link, search.refPoints, detailMode);
        } else {
            testPath = rc.createPath(*otherPath, link, search.refPoints, detailMode);
        }
        if (testPath->cost >= 0 && (bestPath == nullptr || testPath->cost < bestPath->cost) &&
            testPath->sourceNode->getIdFromPos() != testPath->targetNode->getIdFromPos()) {
            rc.releasePath(bestPath);
            bestPath = testPath;
        } else {
            rc.releasePath(testPath);
        }
    }
    return bestPath;
}

inline bool RoutingEngine::beyondCostBound(const SearchState& search, const OsmPath& path) const {
    // A skipped earlier pass (factor 0 or below) bounds nothing.
    const double factor = lastAirDistanceCostFactor_ > 0.0 ? lastAirDistanceCostFactor_ : 1.0;
    return factor * search.maxTotalCost + 100 < static_cast<double>(std::int64_t{path.cost} + path.airDistance);
}

inline bool RoutingEngine::isDominated(const OsmPath& path, OsmLink& link, const OsmNode& from) {
    for (OsmLinkHolder* holder = link.getFirstLinkHolder(&from); holder != nullptr; holder = holder->getNextForLink()) {
        const auto* registered = static_cast<const OsmPath*>(holder);
        if (registered->airDistance != -1 && path.definitlyWorseThan(*registered)) return true;
    }
    return false;
}

void RoutingEngine::collectOpenPaths(std::int32_t maxTotalCost, const OsmPath& taken, const OsmNode* endPos) {
    mapaccess::OsmNodesMap& nodesMap = nodesCache_->nodesMap();
    ++lastCollectionCount_;
    const bool prune = maxTotalCost < kNoCostBound && endPos != nullptr;
    const std::int64_t reach = std::int64_t{maxTotalCost} - taken.cost + 100;

    // The walked graph: the node table (the nodes not decoded yet and the end
    // nodes) and their neighbours. They are counted anew, and with a cost
    // bound the ones farther from the end than it allows are dropped.
    nodeMarks_.clear();
    escapeWalk_ = DROPPED;
    std::int32_t count = 0;
    // The path being taken is closed and expanded next, and may be the final
    // one: its own two nodes stay, whatever the reach.
    for (const OsmNode* node : {taken.sourceNode, taken.targetNode}) {
        if (nodeMarks_.emplace(node, CONNECTED).second && node->hasLinks()) ++count;
    }
    const auto walk = [&](OsmNode* node) {
        if (!nodeMarks_.emplace(node, CONNECTED).second) return;
        if (prune && node->calcDistance(*endPos) > reach) node->vanish();
        if (node->hasLinks()) ++count;
    };
    for (const auto& entry : nodesMap.nodeTable()) {
        OsmNode* node = entry.second;
        walk(node);
        // Dropping a neighbour changes this node's links: take them first.
        walkStack_.clear();
        for (OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
            if (OsmNode* target = link->getTarget(node)) walkStack_.push_back(target);
        }
        for (OsmNode* neighbour : walkStack_) walk(neighbour);
    }
    nodesMap.nodeCount = count;

    // An open path goes on when its link was not released by the dropping and
    // its target still leads into the walked graph; a target that does not
    // lies in a part of the graph that leads nowhere, which is dropped.
    while (OsmPath* open = openSet_.popLowest()) {
        if (open->airDistance != -1 && isUsableFrom(*open->link, open->sourceNode) && escapes(open->targetNode)) {
            openBorderList_.push_back(open);
        } else {
            recycleIfDetached(open);
        }
    }
    nodeMarks_.clear();
    nodesMap.nodesToCheck.clear();
    for (OsmPath* open : openBorderList_) addToOpenset(open);
    openBorderList_.clear();
}

bool RoutingEngine::escapes(OsmNode* start) {
    ++escapeWalk_;
    walkStack_.clear();
    walkStack_.push_back(start);
    std::vector<OsmNode*>& reached = reachedNodes_;
    reached.clear();
    bool connected = false;
    while (!walkStack_.empty()) {
        OsmNode* node = walkStack_.back();
        walkStack_.pop_back();
        auto [mark, fresh] = nodeMarks_.emplace(node, escapeWalk_);
        if (!fresh) {
            if (mark->second == CONNECTED) {
                connected = true;
                break;
            }
            continue; // dropped already, or reached before in this walk
        }
        reached.push_back(node);
        for (OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
            if (OsmNode* target = link->getTarget(node)) walkStack_.push_back(target);
        }
    }
    // What a successful walk passed counts as connected from now on (at
    // worst a dead end is kept); what a failed one reached is dropped.
    for (OsmNode* node : reached) {
        nodeMarks_[node] = connected ? CONNECTED : DROPPED;
        if (!connected) node->vanish();
    }
    return connected;
}

std::shared_ptr<OsmTrack> RoutingEngine::compileTrack(OsmPath& path) {
    RoutingContext& rc = routingContext_;
    OsmTrack* const guideTrack = settings_.guideTrack;
    OsmPathElement* element = OsmPathElement::create(path, rc.pathElements);
    if (guideTrack) element = element->origin; // the last point is dropped

    const float totalTime = element != nullptr && element->message ? element->message->time : 0.0f;
    const float totalEnergy = element != nullptr && element->message ? element->message->energy : 0.0f;

    auto track = std::make_shared<OsmTrack>();
    track->cost = path.cost;
    track->energy = jcompat::toInt(path.getTotalEnergy());

    // Walk from the end back to the start; a point at the same place as the
    // one before it is left out. The kept points are copied for the track,
    // each one's origin being the next kept point of the walk.
    std::int64_t distance = 0;
    std::vector<std::shared_ptr<OsmPathElement>> walk;
    while (element != nullptr) {
        if (guideTrack && !element->message) element->message = std::make_shared<MessageData>();
        OsmPathElement* nextElement = element->origin;
        if (nextElement != nullptr && nextElement->positionEquals(*element)) {
            element = nextElement;
            continue;
        }
        std::shared_ptr<OsmPathElement> point = copyForTrack(*element);
        if (rc.inverseDirection && point->message) {
            point->message->time = totalTime - point->message->time;
            point->message->energy = totalEnergy - point->message->energy;
        }
        if (!walk.empty()) walk.back()->origin = point.get();
        walk.push_back(point);
        if (nextElement != nullptr) distance += element->calcDistance(*nextElement);
        element = nextElement;
    }
    for (std::shared_ptr<OsmPathElement>& point : walk) {
        if (rc.inverseDirection) {
            track->points.push_back(std::move(point));
        } else {
            track->addNode(std::move(point));
        }
    }
    track->distance = util::saturateToInt32(distance);
    track->buildMap();
    if (guideTrack && guideTrack->detourMap) track->copyDetoursOf(*guideTrack);
    return track;
}

std::shared_ptr<OsmTrack> RoutingEngine::mergeTrack(const OsmPathElement& match, const OsmTrack& oldTrack) const {
    auto track = std::make_shared<OsmTrack>();
    track->cost = oldTrack.cost;

    OsmPathElement* previousCopy = nullptr;
    for (const OsmPathElement* element = &match; element != nullptr; element = element->origin) {
        std::shared_ptr<OsmPathElement> copy = copyForTrack(*element);
        if (previousCopy != nullptr) previousCopy->origin = copy.get();
        previousCopy = copy.get();
        track->addNode(std::move(copy));
    }

    if (match.origin != nullptr) {
        const std::int64_t id = match.getIdFromPos();
        const std::int64_t originId = match.origin->getIdFromPos();
        bool appending = false;
        OsmPathElement* last = track->points.empty() ? nullptr : track->points.back().get();
        for (std::size_t i = 0; i < oldTrack.points.size(); ++i) {
            const OsmPathElement& point = *oldTrack.points[i];
            if (appending) {
                std::shared_ptr<OsmPathElement> copy = copyForTrack(point);
                copy->origin = last;
                last = copy.get();
                track->points.push_back(std::move(copy));
            } else if (i > 0 && point.getIdFromPos() == id && oldTrack.points[i - 1]->getIdFromPos() == originId) {
                appending = true;
            }
        }
    }
    track->buildMap();
    return track;
}

} // namespace ferrow::router
