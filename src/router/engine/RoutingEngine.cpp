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

const MatchedWaypoint& requireMatched(const MatchedWaypoint& waypoint) {
    if (!waypoint.crossPoint || !waypoint.node1 || !waypoint.node2) {
        throw jcompat::IllegalArgumentException("a search waypoint was not matched to a way segment");
    }
    return waypoint;
}

// A copy of a search's track point for a track, sharing its message.
std::shared_ptr<OsmPathElement> copyForTrack(const OsmPathElement& element) {
    auto copy = std::make_shared<OsmPathElement>(element);
    copy->origin = nullptr;
    return copy;
}

} // namespace

RoutingEngine::RoutingEngine(jcompat::File segmentDir, OsmNodeNamedList waypoints, RoutingContext& rc,
                             std::int32_t engineMode)
    : segmentDir_(std::move(segmentDir)),
      waypoints_(std::move(waypoints)),
      routingContext_(rc),
      engineMode_(engineMode),
      foundTrack_(std::make_shared<OsmTrack>()) {
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
        if (PathSearch::nogoHolds(*nogo, *startWp.crossPoint) ||
            (endWp != nullptr && PathSearch::nogoHolds(*nogo, *endWp->crossPoint))) {
            continue;
        }
        nogos.push_back(nogo);
    }
    rc.nogoPoints = std::move(nogos);

    settings_ = settings;
    rc.inverseDirection = settings.inverseDirection;
    const auto end = util::onScopeExit([this] { endSearch(); });
    resetCache(settings_.guideTrack != nullptr);
    nodesCache_->nodesMap().cleanupMode = settings_.guideTrack ? 0 : rc.considerTurnRestrictions ? 2 : 1;

    const SearchTask task{.operationName = operationName,
                          .startWp = startWp,
                          .endWp = endWp,
                          .costCuttingTrack = costCuttingTrack,
                          .refPoints = refTrack != nullptr ? refTrack->pointMap.get() : nullptr,
                          .fastPartialRecalc = fastPartialRecalc,
                          .settings = settings_,
                          .airDistanceCostFactor = airDistanceCostFactor_,
                          .lastAirDistanceCostFactor = lastAirDistanceCostFactor_,
                          .maxRunningTime = maxRunningTime_,
                          .directWeaving = directWeaving_};
    SearchRun run{startTime_, matchPath_, terminated_, islandNodePairs_};
    OsmPath* path = search_.find(*nodesCache_, rc, task, run);
    if (path == nullptr) return nullptr;
    std::shared_ptr<OsmTrack> track = compileTrack(*path);
    track->showspeed = rc.showspeed;
    track->showSpeedProfile = rc.showSpeedProfile;
    return track;
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
    search_.clear();
    rc.releaseSearchMemory();
}

void RoutingEngine::keepMatchPath() {
    if (!search_.madeMatchPath()) return;
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
