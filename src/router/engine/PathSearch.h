#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNodePairSet.h"
#include "router/costing/OsmPath.h"
#include "router/costing/OsmPathElement.h"
#include "router/track/OsmTrack.h"
#include "router/waypoints/OsmNodeNamed.h"
#include "util/SortedHeap.h"

namespace ferrow::router {

class RoutingContext;

// How one path search runs, besides its waypoints and tracks.
struct SearchSettings {
    // The track a re-tracking search follows in detail mode, registering the
    // ways it leaves at the track's nodes as detours; null otherwise.
    OsmTrack* guideTrack = nullptr;
    // Paths the search takes at most before it gives up; 0: no limit.
    std::int32_t nodeLimit = 0;
    // The search runs from the end back to the start and prices every link
    // against its direction of travel.
    bool inverseDirection = false;
    // A point on the start's way: where several ways join the start
    // segment's nodes and the start lies on more than one of them, the one
    // passing nearest to it. Without it, the end point when it lies on the
    // start segment.
    const mapaccess::OsmNode* startWayHint = nullptr;
};

// What a search is asked to do: from which matched waypoint to which, bounded
// by what, weighing the air distance how.
struct SearchTask {
    const std::string& operationName;
    const mapaccess::MatchedWaypoint& startWp;
    // Null for a search without target.
    const mapaccess::MatchedWaypoint* endWp = nullptr;
    // An earlier track: a path over it bounds the cost from there on.
    const OsmTrack* costCuttingTrack = nullptr;
    // The reference track's points: links between them are charged again.
    const TrackPointMap* refPoints = nullptr;
    bool fastPartialRecalc = false;
    SearchSettings settings{};
    // Weights of the air distance in the open set's key (this pass's) and in
    // the admission bound (the previous pass's; 0 or below: none).
    double airDistanceCostFactor = 0.0;
    double lastAirDistanceCostFactor = 0.0;
    // Milliseconds; 0 or less: no time limit.
    std::int64_t maxRunningTime = 0;
    // Tiles are woven straight into the graph: the memory check applies.
    bool directWeaving = true;
};

// What the search shares with the run around it, which outlives the search.
struct SearchRun {
    // Milliseconds; the early exit of a fast partial recalculation that goes
    // on as a full search starts it anew.
    std::int64_t& startTime;
    // Where a search met its cost-cutting track; it persists between the
    // passes of a leg. A search sets it to a point of its own pool.
    OsmPathElement*& matchPath;
    const std::atomic<bool>& stop;
    // The search stages the pairs of nodes it passes; its freeze count
    // decides whether a dead search is an island.
    mapaccess::OsmNodePairSet& islandPairs;
};

// The best-first search over the road graph, which the node cache decodes on
// demand, from one matched waypoint to the next, bounded by cost cutting
// against an earlier track, a time limit, the stop flag and a memory
// estimate, and optionally confined to a guide track (re-tracking).
//
// What it owns: the open set, the border list of parked paths and the
// bookkeeping of the memory check, kept from search to search so that a
// search allocates nothing once warm. What it borrows for one search: the
// node cache's graph, which it changes (links are released at closing, nodes
// out of reach dropped by the memory check), and the routing context, from
// whose pools its paths and track points come and to which it hands back
// the paths it drops. A path it returns, and a match path it made, stay
// valid until the context's search memory is released; `clear` ends a search.
class PathSearch {
public:
    // The node limit of the island checks, and the visited-node bound below
    // which a dead search counts as an island.
    static constexpr std::int32_t MAXNODES_ISLAND_CHECK = 500;
    // Searches stop throwing island exceptions after this many freezes.
    static constexpr std::int32_t MAX_ISLAND_FREEZES = 5;

    PathSearch();

    // Searches from task.startWp to task.endWp. Returns the path that reaches
    // the end, or null when the start cannot be completed, the graph is
    // exhausted or the node limit is reached. Fails with
    // SearchCutShortException for the stop flag, a timeout, the memory limit
    // and an early exit of a fast partial recalculation, and with
    // RoutingIslandException when the search dies out early.
    OsmPath* find(mapaccess::NodesCache& cache, RoutingContext& rc, const SearchTask& task, SearchRun& run);

    // Ends a search: empties the open set and the border list.
    void clear();

    // Of the last search: paths taken (and not skipped as closed), recounts
    // of the memory check, whether it gave up at its node limit, whether it
    // made the run's match path.
    std::int32_t visitedCount() const noexcept { return visited_; }
    std::int32_t collectionCount() const noexcept { return collections_; }
    bool reachedNodeLimit() const noexcept { return reachedNodeLimit_; }
    bool madeMatchPath() const noexcept { return madeMatchPath_; }

    // Whether the no-go area holds the position (radius, then the polygon's
    // inside or the polyline's line).
    static bool nogoHolds(const OsmNodeNamed& nogo, const mapaccess::OsmNode& position);

private:
    // The cost bound of a search without one.
    static constexpr std::int32_t NO_COST_BOUND = 1000000000;

    // What the steps of one search share.
    struct SearchState {
        const std::string& operationName;
        const OsmTrack* costCuttingTrack;
        // The reference track's points: links between them are charged again.
        const TrackPointMap* refPoints;
        OsmTrack* guideTrack;
        bool fastPartialRecalc;
        // Counts down when positive; the search gives up at 0.
        std::int32_t nodeLimit;
        std::int32_t maxTotalCost;
        std::int32_t firstMatchCost = NO_COST_BOUND;
        mapaccess::OsmNode* end1 = nullptr;
        mapaccess::OsmNode* end2 = nullptr;
        std::shared_ptr<OsmNodeNamed> endPos = nullptr;
        std::int64_t startId1 = 0;
        std::int64_t startId2 = 0;
        // Of several ways between the end nodes, the one nearest the end point;
        // null while not chosen, or when only one joins them.
        const mapaccess::OsmLink* endLink = nullptr;
        bool endLinkChosen = false;
        // The memory fall-back parks paths in the border list until the open set runs dry.
        bool memoryPanicMode = false;
        bool needNonPanicProcessing = false;
        std::int32_t nodesVisited = 0;
        // Steps until the clock is read again.
        std::int32_t stepsToClock = 0;
    };

    // ---- steps of a search, inline: the search loop runs them at every step ----
    // Finds the segment nodes, makes the start paths and queues them; false
    // when the start cannot be completed.
    // Lies in PathSearchEnds.cpp with the other steps at the ends of a search.
    bool startSearch(SearchState& search);
    OsmPath* getStartPath(mapaccess::OsmNode* fromNode, mapaccess::OsmNode* toNode,
                          const mapaccess::MatchedWaypoint& waypoint, const std::shared_ptr<OsmNodeNamed>& endPos,
                          bool sameSegmentSearch);
    // Whether a and b are the end segment's nodes, in either order.
    static bool linksEnds(const SearchState& search, const mapaccess::OsmNode& a, const mapaccess::OsmNode& b) {
        return (&a == search.end1 && &b == search.end2) || (&a == search.end2 && &b == search.end1);
    }
    // Whether a path over link between the end nodes ends the search: the
    // end segment's way, when several join them (chosen at the first ask,
    // from `from` to `to`).
    inline bool isEndLink(SearchState& search, const mapaccess::OsmLink* link, const mapaccess::OsmNode* from = nullptr,
                          const mapaccess::OsmNode* to = nullptr);
    void chooseEndLink(SearchState& search, const mapaccess::OsmNode& from, const mapaccess::OsmNode& to);
    // Metres from point to the nearest point of the link's line from `from` to `to`.
    double distanceToLink(const mapaccess::OsmLink& link, const mapaccess::OsmNode& from, const mapaccess::OsmNode& to,
                          const mapaccess::OsmNode& point);
    // The next open path to take (parked paths go on when the open set runs
    // dry), or null when the search is exhausted; checks the stop flag and
    // the time limit first.
    inline OsmPath* nextOpenPath(SearchState& search);
    inline void checkTime(SearchState& search) const;
    // The memory check before a path that may decode new tiles; false when
    // the path was parked in the border list.
    inline bool checkMemory(SearchState& search, OsmPath& path);
    // A fast partial recalculation gives up when it strays too far from the
    // track it met, or goes on as a full search when there is time.
    inline void checkEarlyExit(SearchState& search, const OsmPath& path);
    // Cost cutting: a path over the cost-cutting track tightens the bound.
    inline void cutCosts(SearchState& search, OsmPath& path);
    // Closes the path's link: the paths that arrived over it (returned) are
    // marked closed, and the link is released from the graph.
    inline mapaccess::OsmLinkHolder* closeLink(OsmPath& path);
    // The node at the far end of link from the path's target when the search
    // may go on there (decoded, linked, not back over the path's own link),
    // else null.
    inline mapaccess::OsmNode* nextNodeOver(mapaccess::OsmLink& link, const OsmPath& path);
    // Extends the arrivals over every link leaving the path's target and
    // queues the best extension of each that stays within the bounds.
    inline void expand(SearchState& search, OsmPath& path, mapaccess::OsmLinkHolder* arrivals);
    // Whether the next node is the guide track's next point (always without
    // a guide track); a way off the track is registered as a detour.
    inline bool followsGuide(const SearchState& search, OsmPath& path, mapaccess::OsmLink& link,
                             const mapaccess::OsmNode& nextNode);
    inline OsmPath* bestExtension(const SearchState& search, mapaccess::OsmLinkHolder* arrivals,
                                  mapaccess::OsmLink* link, bool isFinalLink);
    inline bool beyondCostBound(const SearchState& search, const OsmPath& path) const;
    // Whether a path already on the link from that node makes path useless.
    static inline bool isDominated(const OsmPath& path, mapaccess::OsmLink& link, const mapaccess::OsmNode& from);

    void addToOpenset(OsmPath* path);
    // Hands a path that left the open set back to the pool once its link no
    // longer holds it.
    void recycleIfDetached(OsmPath* path);
    std::int32_t openSetKey(const OsmPath& path) const;

    // The memory check's collection: recounts the graph's nodes from the node
    // table outwards, drops the nodes out of reach of the cost bound (but for
    // the taken path's own two), and moves every open path whose target is
    // still in the walked graph into the border list.
    void collectOpenPaths(std::int32_t maxTotalCost, const OsmPath& taken, const mapaccess::OsmNode* endPos);
    // Whether the links lead from start into the walked graph; when they do
    // not, every node they reach is dropped from the graph.
    bool escapes(mapaccess::OsmNode* start);

    // Borrowed for one search.
    mapaccess::NodesCache* cache_ = nullptr;
    RoutingContext* rc_ = nullptr;
    const SearchTask* task_ = nullptr;
    SearchRun* run_ = nullptr;

    util::SortedHeap<OsmPath*> openSet_;
    // Paths parked by the memory fall-back, and the recount's survivors.
    std::vector<OsmPath*> openBorderList_;
    // Marks of the memory check's walks: connected, dropped, or the number of
    // the escape walk that reached the node.
    static constexpr std::uint32_t CONNECTED = 1;
    static constexpr std::uint32_t DROPPED = 2;
    std::unordered_map<const mapaccess::OsmNode*, std::uint32_t> nodeMarks_;
    std::uint32_t escapeWalk_ = DROPPED;
    std::vector<mapaccess::OsmNode*> walkStack_;
    std::vector<mapaccess::OsmNode*> reachedNodes_;

    std::int32_t visited_ = 0;
    std::int32_t collections_ = 0;
    bool reachedNodeLimit_ = false;
    bool madeMatchPath_ = false;
};

} // namespace ferrow::router
