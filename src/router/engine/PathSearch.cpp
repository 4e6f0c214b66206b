#include "router/engine/PathSearch.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "mapaccess/OsmNodesMap.h"
#include "router/costing/OsmPrePath.h"
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
bool isBidirectional(const OsmLink& link) { return (link.firstNode != nullptr) & (link.secondNode != nullptr); }

// Whether the link still leads away from source (it was not released there,
// nor at both ends).
bool isUsableFrom(const OsmLink& link, const OsmNode* source) {
    return ((link.secondNode != nullptr) & (link.secondNode != source)) |
           ((link.firstNode != nullptr) & (link.firstNode != source));
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

void PathSearch::clear() {
    openSet_.clear();
    openBorderList_.clear();
    madeMatchPath_ = false;
}

std::int32_t PathSearch::openSetKey(const OsmPath& path) const {
    return util::saturateToInt32(std::int64_t{path.cost} +
                                 jcompat::toInt(task_->airDistanceCostFactor * path.airDistance));
}

void PathSearch::recycleIfDetached(OsmPath* path) {
    // Released at its source, the link no longer holds the path: nothing
    // refers to it any more.
    if (!isUsableFrom(*path->link, path->sourceNode)) rc_->releasePath(path);
}

void PathSearch::reclaimGraph(const SearchState& search) {
    // Between two steps only the queued and the parked paths refer into the
    // graph from outside: the others were handed back, or hang on links in use.
    pinned_.clear();
    const auto pin = [this](const OsmPath* path) {
        pinned_.push_back(path->link);
        pinned_.push_back(path->sourceNode);
        pinned_.push_back(path->targetNode);
    };
    openSet_.forEachValue(pin);
    for (const OsmPath* path : openBorderList_) pin(path);
    pinned_.push_back(search.endLink);
    cache_->nodesMap().reclaim(pinned_);
}

void PathSearch::addToOpenset(OsmPath* path) {
    if (path->cost >= 0) openSet_.add(openSetKey(*path), path);
}

PathSearch::PathSearch() { openBorderList_.reserve(4096); }

OsmPath* PathSearch::find(mapaccess::NodesCache& cache, RoutingContext& rc, const SearchTask& task, SearchRun& run) {
    cache_ = &cache;
    rc_ = &rc;
    task_ = &task;
    run_ = &run;
    const SearchSettings& settings = task.settings;
    SearchState search{.operationName = task.operationName,
                       .costCuttingTrack = task.costCuttingTrack,
                       .refPoints = task.refPoints,
                       .guideTrack = settings.guideTrack,
                       .fastPartialRecalc = task.fastPartialRecalc,
                       .nodeLimit = settings.nodeLimit,
                       .maxTotalCost = settings.guideTrack
                                           ? util::saturateToInt32(std::int64_t{settings.guideTrack->cost} + 5000)
                                           : NO_COST_BOUND};
    visited_ = 0;
    collections_ = 0;
    reachedNodeLimit_ = false;
    madeMatchPath_ = false;
    if (!startSearch(search)) return nullptr;

    while (OsmPath* path = nextOpenPath(search)) {
        if (!checkMemory(search, *path)) continue;
        checkEarlyExit(search, *path);
        if (search.nodeLimit > 0 && --search.nodeLimit == 0) {
            reachedNodeLimit_ = true;
            return nullptr;
        }
        visited_ = ++search.nodesVisited;
        if (!path->didEnterDestinationArea()) {
            run_->islandPairs.addTempPair(path->sourceNode->getIdFromPos(), path->targetNode->getIdFromPos());
        }
        if (path->treeDepth != 1) {
            if (path->treeDepth == 0) path->treeDepth = 1;
            if (linksEnds(search, *path->sourceNode, *path->targetNode) && isEndLink(search, path->link)) {
                return path;
            }
            if (search.costCuttingTrack != nullptr) cutCosts(search, *path);
        }
        OsmLinkHolder* arrivals = closeLink(*path);
        // A path that cannot come in under the cost bound goes no further.
        if (std::int64_t{path->cost} + path->airDistance <= std::int64_t{search.maxTotalCost} + 100) {
            expand(search, *path, arrivals);
        }
        recycleIfDetached(path);
        if (cache_->nodesMap().wantsReclaim()) reclaimGraph(search);
    }

    if (search.nodesVisited < MAXNODES_ISLAND_CHECK && run_->islandPairs.getFreezeCount() < MAX_ISLAND_FREEZES) {
        throw RoutingIslandException();
    }
    return nullptr;
}

inline bool PathSearch::isEndLink(SearchState& search, const OsmLink* link, const OsmNode* from, const OsmNode* to) {
    if (!search.endLinkChosen && from != nullptr) chooseEndLink(search, *from, *to);
    return search.endLink == nullptr || link == search.endLink;
}

inline OsmPath* PathSearch::nextOpenPath(SearchState& search) {
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

inline void PathSearch::checkTime(SearchState& search) const {
    if (run_->stop.load(std::memory_order_acquire)) throwKilled(jcompat::currentTimeMillis() - run_->startTime);
    if (task_->maxRunningTime <= 0) return;
    // A step takes microseconds: reading the clock every 64th keeps a timeout
    // to well within a millisecond and the clock out of the inner loop.
    if (--search.stepsToClock > 0) return;
    search.stepsToClock = kStepsPerClockRead;
    const std::int64_t timeout =
        run_->matchPath == nullptr && search.fastPartialRecalc ? task_->maxRunningTime / 3 : task_->maxRunningTime;
    if (jcompat::currentTimeMillis() - run_->startTime > timeout) throwTimeout(search.operationName, timeout);
}

inline bool PathSearch::checkMemory(SearchState& search, OsmPath& path) {
    if (!task_->directWeaving) return true;
    mapaccess::OsmNodesMap& nodesMap = cache_->nodesMap();
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
            if (search.maxTotalCost < NO_COST_BOUND || search.needNonPanicProcessing || search.fastPartialRecalc) {
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

inline void PathSearch::checkEarlyExit(SearchState& search, const OsmPath& path) {
    const OsmTrack* track = search.costCuttingTrack;
    if (!search.fastPartialRecalc || run_->matchPath == nullptr ||
        path.cost <= std::int64_t{30} * search.firstMatchCost || track == nullptr || track->dirty) {
        return;
    }
    const std::int64_t now = jcompat::currentTimeMillis();
    if (path.cost > search.maxTotalCost / 2 && now - run_->startTime < task_->maxRunningTime / 3) {
        // Far from a close recalculation, and time enough: finish the search.
        run_->startTime = now;
        search.fastPartialRecalc = false;
        return;
    }
    throw SearchCutShortException("early exit for a close recalc");
}

inline void PathSearch::cutCosts(SearchState& search, OsmPath& path) {
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
        // Kept for the run: its chain outlives the paths of this search.
        run_->matchPath = OsmPathElement::retain(OsmPathElement::create(path, rc_->pathElements));
        madeMatchPath_ = true;
    }
    if (estimate < search.maxTotalCost) search.maxTotalCost = util::saturateToInt32(estimate);
}

inline OsmLinkHolder* PathSearch::closeLink(OsmPath& path) {
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
    if (bidirectional && link->getFirstLinkHolder(path.targetNode) == nullptr && !rc_->considerTurnRestrictions) {
        path.targetNode->unlinkLink(link);
    }
    return arrivals;
}

inline OsmNode* PathSearch::nextNodeOver(OsmLink& link, const OsmPath& path) {
    OsmNode* next = link.getTarget(path.targetNode);
    // Back to the source only over another way between the two.
    if (next == nullptr || (next == path.sourceNode && &link == path.link) || !cache_->obtainNonHollowNode(next) ||
        !next->hasLinks()) {
        return nullptr;
    }
    return next;
}

inline void PathSearch::expand(SearchState& search, OsmPath& path, OsmLinkHolder* arrivals) {
    RoutingContext& rc = *rc_;
    mapaccess::OsmNodesMap& nodesMap = cache_->nodesMap();
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
    // The other models have none, but their links' far ends are completed
    // here all the same, before any is priced, as with a look-ahead.
    rc.clearPrePaths();
    const bool lookAhead = rc.pathModel->makesPrePaths();
    for (OsmLink* link = currentNode->firstLink; link != nullptr; link = link->getNext(currentNode)) {
        if (nextNodeOver(*link, path) == nullptr || !lookAhead) continue;
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

inline bool PathSearch::followsGuide(const SearchState& search, OsmPath& path, OsmLink& link, const OsmNode& nextNode) {
    OsmTrack* guide = search.guideTrack;
    if (guide == nullptr) return true;
    RoutingContext& rc = *rc_;
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

inline OsmPath* PathSearch::bestExtension(const SearchState& search, OsmLinkHolder* arrivals, OsmLink* link,
                                          bool isFinalLink) {
    RoutingContext& rc = *rc_;
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

inline bool PathSearch::beyondCostBound(const SearchState& search, const OsmPath& path) const {
    // A skipped earlier pass (factor 0 or below) bounds nothing.
    const double factor = task_->lastAirDistanceCostFactor > 0.0 ? task_->lastAirDistanceCostFactor : 1.0;
    return factor * search.maxTotalCost + 100 < static_cast<double>(std::int64_t{path.cost} + path.airDistance);
}

inline bool PathSearch::isDominated(const OsmPath& path, OsmLink& link, const OsmNode& from) {
    for (OsmLinkHolder* holder = link.getFirstLinkHolder(&from); holder != nullptr; holder = holder->getNextForLink()) {
        const auto* registered = static_cast<const OsmPath*>(holder);
        if (registered->airDistance != -1 && path.definitlyWorseThan(*registered)) return true;
    }
    return false;
}

void PathSearch::collectOpenPaths(std::int32_t maxTotalCost, const OsmPath& taken, const OsmNode* endPos) {
    mapaccess::OsmNodesMap& nodesMap = cache_->nodesMap();
    ++collections_;
    const bool prune = maxTotalCost < NO_COST_BOUND && endPos != nullptr;
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

bool PathSearch::escapes(OsmNode* start) {
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

} // namespace ferrow::router
