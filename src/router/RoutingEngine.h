#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNodePairSet.h"
#include "router/OsmNodeNamed.h"
#include "router/OsmPathElement.h"
#include "router/OsmTrack.h"
#include "util/SortedHeap.h"

namespace ferrow::router {

class OsmPath;
class RoutingContext;

// One routing run: its inputs, its results and the state its searches
// share. This part holds the path search: a best-first search over the road
// graph, which the node cache decodes on demand, from one matched waypoint to
// the next, bounded by cost cutting against an earlier track, a time limit,
// the stop flag and a memory estimate, and optionally confined to a guide
// track (re-tracking in detail mode).
//
// Memory of one search: paths and track points come from the routing
// context's pools and the graph from the node cache's node map; the search
// releases its pools when it ends, so that only the returned track (which
// owns copies of its points) and the match path (copied out of the pool)
// outlive it.
class RoutingEngine {
public:
    // The node limit of the island checks, and the visited-node bound below
    // which a dead search counts as an island.
    static constexpr std::int32_t MAXNODES_ISLAND_CHECK = 500;
    // Step limit of the via-point spur walks.
    static constexpr std::int32_t MAX_STEPS_CHECK = 500;
    // Metres of the widest waypoint matching.
    static constexpr std::int32_t MAX_DYNAMIC_RANGE = 60000;
    // Capacity of the island pair set's staging area.
    static constexpr std::int32_t ISLAND_PAIR_CAPACITY = 500;
    // Searches stop throwing island exceptions after this many freezes.
    static constexpr std::int32_t MAX_ISLAND_FREEZES = 5;

    // Loads (or reuses) the profile of rc and reads its global variables.
    RoutingEngine(jcompat::File segmentDir, OsmNodeNamedList waypoints, RoutingContext& rc, std::int32_t engineMode);
    ~RoutingEngine();
    RoutingEngine(const RoutingEngine&) = delete;
    RoutingEngine& operator=(const RoutingEngine&) = delete;

    // ---- path search ----

    // One search from startWp to endWp (matched waypoints; endWp may be null
    // for a search without target). No-go areas holding either cross point
    // are left out for this search. Returns the found track, or null when the
    // graph is exhausted or the node limit is reached. Fails with
    // IllegalArgumentException for the stop flag, a timeout, the memory limit
    // and an early exit of a fast partial recalculation, and with
    // RoutingIslandException when the search dies out early. The no-go list
    // is restored and the node cache cleaned in every case.
    std::shared_ptr<OsmTrack> findTrack(const std::string& operationName, const mapaccess::MatchedWaypoint& startWp,
                                        const mapaccess::MatchedWaypoint* endWp, const OsmTrack* costCuttingTrack,
                                        const OsmTrack* refTrack, bool fastPartialRecalc);

    // A new node cache (detailed or not) that takes over the old one's open
    // files and tiles; the island pairs' staging area is emptied.
    void resetCache(bool detailed);

    // The track of a found path: its points copied out of the search's pool,
    // in travel order (reversed when routing inversely), with its node map.
    std::shared_ptr<OsmTrack> compileTrack(OsmPath& path);

    // A partial result joined with the rest of oldTrack: the match point's
    // chain, then oldTrack's points after the place where it runs over the
    // match's link.
    std::shared_ptr<OsmTrack> mergeTrack(const OsmPathElement& match, const OsmTrack& oldTrack) const;

    // Sets the stop flag: every later search step fails.
    void terminate() noexcept { terminated_.store(true, std::memory_order_release); }
    bool isTerminated() const noexcept { return terminated_.load(std::memory_order_acquire); }

    // Paths taken from the open set (and not skipped as closed) by the last search.
    std::int32_t lastVisitedCount() const noexcept { return lastVisitedCount_; }
    // Times the last search's memory check recounted the graph.
    std::int32_t lastCollectionCount() const noexcept { return lastCollectionCount_; }

    // ---- inputs ----
    jcompat::File segmentDir;
    OsmNodeNamedList waypoints;
    RoutingContext& routingContext;
    std::int32_t engineMode;

    // ---- results ----
    std::shared_ptr<OsmTrack> foundTrack;
    std::optional<std::string> errorMessage;

    // ---- state shared by the searches of a run ----
    std::unique_ptr<mapaccess::NodesCache> nodesCache;
    util::SortedHeap<OsmPath*> openSet;
    std::optional<std::vector<std::shared_ptr<mapaccess::MatchedWaypoint>>> matchedWaypoints;
    mapaccess::OsmNodePairSet islandNodePairs{ISLAND_PAIR_CAPACITY};
    // The track a re-tracking search follows; null otherwise.
    std::shared_ptr<OsmTrack> guideTrack;
    // Where a search met its cost-cutting track: a chain of points that
    // outlives the search (it persists between the passes of a leg).
    OsmPathElement* matchPath = nullptr;
    std::shared_ptr<OsmTrack> foundRawTrack;
    // Weights of the air distance in the open set's key: the current pass's
    // and the previous pass's.
    double airDistanceCostFactor = 0.0;
    double lastAirDistanceCostFactor = 0.0;
    std::int64_t startTime = 0;      // milliseconds
    std::int64_t maxRunningTime = 0; // milliseconds; 0 or less: none
    // Counts down when positive; the search gives up at 0.
    std::int32_t nodeLimit = 0;
    bool directWeaving = true;

private:
    std::shared_ptr<OsmTrack> _findTrack(const std::string& operationName, const mapaccess::MatchedWaypoint& startWp,
                                         const mapaccess::MatchedWaypoint* endWp, const OsmTrack* costCuttingTrack,
                                         const OsmTrack* refTrack, bool fastPartialRecalc);
    OsmPath* getStartPath(mapaccess::OsmNode* fromNode, mapaccess::OsmNode* toNode,
                          const mapaccess::MatchedWaypoint& waypoint, const std::shared_ptr<OsmNodeNamed>& endPos,
                          bool sameSegmentSearch);
    void addToOpenset(OsmPath* path);
    // Hands a path that left the open set back to the pool once its link no
    // longer holds it.
    void recycleIfDetached(OsmPath* path);
    std::int32_t openSetKey(const OsmPath& path) const;

    // The memory check's collection: recounts the graph's nodes from the node
    // table outwards, drops the nodes out of reach of the cost bound, and
    // moves every open path whose target is still in the walked graph into
    // the border list.
    void collectOpenPaths(std::int32_t maxTotalCost, std::int32_t pathCost, const mapaccess::OsmNode* endPos);
    // Whether the links lead from start into the walked graph; when they do
    // not, every node they reach is dropped from the graph.
    bool escapes(mapaccess::OsmNode* start);

    // Moves a match path made during the search out of the search's pool.
    void keepMatchPath();
    // Ends a search: restores the no-go list, cleans the node cache, empties
    // the open set and recycles the search's pools.
    void endSearch();

    std::atomic<bool> terminated_{false};
    std::int32_t lastVisitedCount_ = 0;
    std::int32_t lastCollectionCount_ = 0;
    // The match path lies in the current search's pool.
    bool matchPathInSearch_ = false;
    std::deque<OsmPathElement> matchPathChain_;
    // Reused by the searches.
    std::vector<OsmPath*> openBorderList_;
    // Marks of the memory check's walks: connected, dropped, or the number of
    // the escape walk that reached the node.
    static constexpr std::uint32_t kConnected = 1;
    static constexpr std::uint32_t kDropped = 2;
    std::unordered_map<const mapaccess::OsmNode*, std::uint32_t> nodeMarks_;
    std::uint32_t escapeWalk_ = kDropped;
    std::vector<mapaccess::OsmNode*> walkStack_;
    std::vector<mapaccess::OsmNode*> reachedNodes_;
};

} // namespace ferrow::router
