// The ends of a search: the start paths, the way that holds the end, and
// the no-go areas a search leaves out around its ends.
#include <algorithm>
#include <cmath>
#include <memory>

#include "jcompat/NumberText.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/PathSearch.h"
#include "router/waypoints/OsmNogoPolygon.h"
#include "util/CheapRuler.h"
#include "util/Saturate.h"
#include "util/ScopeExit.h"

namespace ferrow::router {

using mapaccess::MatchedWaypoint;
using mapaccess::OsmLink;
using mapaccess::OsmNode;

namespace {

std::shared_ptr<OsmNodeNamed> pointAt(const OsmNode& position) {
    auto point = std::make_shared<OsmNodeNamed>();
    point->ilon = position.ilon;
    point->ilat = position.ilat;
    point->selev = OsmNode::NO_ELEVATION;
    return point;
}

} // namespace

bool PathSearch::nogoHolds(const OsmNodeNamed& nogo, const OsmNode& position) {
    if (!(nogo.radius > nogo.calcDistance(position))) return false;
    if (const OsmNogoPolygon* polygon = nogo.asPolygon()) {
        return polygon->isClosed ? polygon->isWithin(position.ilon, position.ilat)
                                 : polygon->isOnPolyline(position.ilon, position.ilat);
    }
    return true;
}

OsmPath* PathSearch::getStartPath(OsmNode* fromNode, OsmNode* toNode, const MatchedWaypoint& waypoint,
                                  const std::shared_ptr<OsmNodeNamed>& endPos, bool sameSegmentSearch) {
    RoutingContext& rc = *rc_;
    if (endPos) endPos->radius = 1.5;
    std::shared_ptr<OsmNodeNamed> waypointPoint = pointAt(*waypoint.crossPoint);
    const std::shared_ptr<OsmNodeNamed> pendingEnd = sameSegmentSearch ? endPos : nullptr;
    rc.setWaypoint(waypointPoint, pendingEnd, false);
    const auto unset = util::onScopeExit([&rc] { rc.unsetWaypoint(); });

    OsmPath* bestPath = nullptr;
    OsmLink* startLink = cache_->nodesMap().createLink();
    startLink->secondNode = fromNode;
    OsmPath* startPath = rc.createPath(startLink);
    startLink->addLinkHolder(startPath, nullptr);

    // Where several ways join the two nodes and the start lies on more than
    // one (at a node), the one nearest to the hint is the start's way: the
    // end on the same segment, or the point a search along it is about.
    const OsmNode* const hint =
        task_->settings.startWayHint != nullptr ? task_->settings.startWayHint : pendingEnd.get();
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
        OsmPath* candidate = rc.createPath(*startPath, link, nullptr, task_->settings.guideTrack != nullptr);
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

bool PathSearch::startSearch(SearchState& search) {
    RoutingContext& rc = *rc_;
    const MatchedWaypoint& startWp = task_->startWp;
    const MatchedWaypoint* endWp = task_->endWp;
    mapaccess::OsmNodesMap& nodesMap = cache_->nodesMap();
    OsmNode* start1 = cache_->getGraphNode(*startWp.node1);
    OsmNode* start2 = cache_->getGraphNode(*startWp.node2);
    search.end1 = endWp != nullptr ? cache_->getGraphNode(*endWp->node1) : nullptr;
    search.end2 = endWp != nullptr ? cache_->getGraphNode(*endWp->node2) : nullptr;
    nodesMap.endNode1 = search.end1;
    nodesMap.endNode2 = search.end2;
    search.endPos = endWp != nullptr ? pointAt(*endWp->crossPoint) : nullptr;
    const bool sameSegmentSearch = search.end1 != nullptr && linksEnds(search, *start1, *start2);

    if (!cache_->obtainNonHollowNode(start1)) return false;
    cache_->expandHollowLinkTargets(start1);
    if (!cache_->obtainNonHollowNode(start2)) return false;
    cache_->expandHollowLinkTargets(start2);

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

void PathSearch::chooseEndLink(SearchState& search, const OsmNode& from, const OsmNode& to) {
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

double PathSearch::distanceToLink(const OsmLink& link, const OsmNode& from, const OsmNode& to, const OsmNode& point) {
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
             rc_->geometryDecoder.decodeGeometry(link.geometry, &from, &to, link.isReverse(&from));
         shape != nullptr; shape = shape->next) {
        reach(shape->ilon, shape->ilat);
    }
    reach(to.ilon, to.ilat);
    return nearest;
}

} // namespace ferrow::router
