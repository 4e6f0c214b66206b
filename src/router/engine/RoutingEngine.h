#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNodePairSet.h"
#include "router/costing/OsmPathElement.h"
#include "router/engine/PathSearch.h"
#include "router/track/OsmTrack.h"
#include "router/waypoints/OsmNodeNamed.h"
#include "util/ByteArray.h"

namespace ferrow::router {

class AreaInfo;
class OsmPath;
class RoutingContext;

namespace testing {
class EngineProbe;
}

// One routing run: its inputs, its results and the state its searches
// share; each search is a PathSearch over a node cache of its own.
//
// Memory of one search: paths and track points come from the routing
// context's pools and the graph from the node cache's node map; the search
// releases its pools when it ends, so that only the returned track (which
// owns copies of its points) and the match path (copied out of the pool)
// outlive it.
class RoutingEngine {
public:
    static constexpr std::int32_t MAXNODES_ISLAND_CHECK = PathSearch::MAXNODES_ISLAND_CHECK;
    // Step limit of the via-point spur walks.
    static constexpr std::int32_t MAX_STEPS_CHECK = 500;
    // Metres of the widest waypoint matching.
    static constexpr std::int32_t MAX_DYNAMIC_RANGE = 60000;
    // Capacity of the island pair set's staging area.
    static constexpr std::int32_t ISLAND_PAIR_CAPACITY = 500;
    // Metres of the largest round-trip radius: the area scan and the search
    // of a larger one would hold the service for minutes.
    static constexpr std::int32_t MAX_ROUND_TRIP_DISTANCE = 100000;

    // Loads (or reuses) the profile of rc and reads its global variables.
    RoutingEngine(jcompat::File segmentDir, OsmNodeNamedList waypoints, RoutingContext& rc, std::int32_t engineMode);
    ~RoutingEngine();
    RoutingEngine(const RoutingEngine&) = delete;
    RoutingEngine& operator=(const RoutingEngine&) = delete;

    // ---- path search ----

    // One search from startWp to endWp (matched waypoints; endWp may be null
    // for a search without target), run as settings say. No-go areas holding
    // either cross point are left out for this search. Returns the found
    // track, or null when the graph is exhausted or the node limit is
    // reached. Fails with SearchCutShortException for the stop flag, a
    // timeout, the memory limit and an early exit of a fast partial
    // recalculation, and with RoutingIslandException when the search dies out
    // early. The no-go list is restored and the node cache cleaned in every
    // case.
    std::shared_ptr<OsmTrack> findTrack(const std::string& operationName, const mapaccess::MatchedWaypoint& startWp,
                                        const mapaccess::MatchedWaypoint* endWp, const OsmTrack* costCuttingTrack,
                                        const OsmTrack* refTrack, bool fastPartialRecalc,
                                        const SearchSettings& settings = {});

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
    std::int32_t lastVisitedCount() const noexcept { return search_.visitedCount(); }
    // Times the last search's memory check recounted the graph.
    std::int32_t lastCollectionCount() const noexcept { return search_.collectionCount(); }
    // Whether the last search gave up at its node limit.
    bool lastSearchReachedNodeLimit() const noexcept { return search_.reachedNodeLimit(); }

    // ---- runs ----

    using MatchedWaypointList = std::vector<std::shared_ptr<mapaccess::MatchedWaypoint>>;
    // One entry per leg of a route, or null.
    using TrackList = std::vector<std::shared_ptr<OsmTrack>>;

    // Runs the engine mode: 0 routes through the waypoints (at least two), 2
    // and 3 give information about the first waypoint's way, 4 plans a round
    // trip; IllegalArgumentException for too few waypoints or another mode.
    // Failures inside a run become its error message instead.
    void doRun(std::int64_t maxRunningTimeMillis);
    // The route run: alternatives 0 to alternativeIdx, each one penalising
    // the links of the earlier ones, with island retries; the last one is the
    // found track. Always releases the profile and closes the node cache.
    void doRouting(std::int64_t maxRunningTimeMillis);
    // Point information: the first waypoint's way segment as the found track
    // (mode 3 adds the point with its interpolated elevation as a point of
    // interest). Closes the node cache; the profile stays taken.
    void doGetInfo();
    // A round trip from the first waypoint: via points on a half circle in
    // the requested direction (or one chosen at random or from the map data
    // around the start) and back, routed as a route run without time limit.
    // Always releases the profile and closes the node cache.
    void doRoundTrip();

    // Appends the via points "rt1" .. "rt<points - 1>" on a half circle of the
    // radius (metres) around waypoint 0, on bearings strictly between
    // startAngle - 90 and startAngle + 90, then "to_rt" at waypoint 0.
    // IllegalArgumentException when a point falls outside the world's grid.
    static void buildPointsFromCircle(OsmNodeNamedList& waypoints, double startAngle, double searchRadius,
                                      std::int32_t points);
    // The named point reached from start after distance metres on the
    // bearing; IllegalArgumentException when it lies outside the world's grid.
    static std::shared_ptr<OsmNodeNamed> roundTripPoint(const mapaccess::OsmNode& start, double distance,
                                                        double bearing, std::string name);
    // The direction (degrees, not reduced to 0..359) of a round trip without
    // one: at random, or, when the profile sets "consider_elevation",
    // "consider_forest" or "consider_river" to 1, within 30 degrees of the
    // best of four sectors around start (from the area-info cache file or a
    // scan of the map data with the profile "dummy.vpf" beside the request's).
    std::int32_t getRandomDirectionFromData(const std::shared_ptr<OsmNodeNamed>& start, double searchRadius);
    // Reseeds the process-wide generator of round-trip directions, which
    // otherwise seeds itself at first use: for repeatable runs.
    static void seedRoundTripRandom(std::uint64_t seed);

    // The run's waypoints, with the ones a run adds (the way back, round-trip points).
    const OsmNodeNamedList& getWaypoints() const noexcept { return waypoints_; }
    const OsmTrack& getFoundTrack() const noexcept { return *foundTrack_; }
    const std::optional<std::string>& getErrorMessage() const noexcept { return errorMessage_; }
    // A fatal failure of a route run: stops every later search step.
    void cleanOnOOM() noexcept { terminate(); }
    // Records a failure as the error message: a run-time failure's message
    // (which may be none), else its type name and message.
    void logException(const std::exception& failure);

    // One attempt over all waypoints: matching (the first time), no-go and
    // island checks, the legs searched and joined, elevations filled and
    // totals recalculated. The arrays hold the earlier alternatives' leg
    // tracks (penalised) and the previous one's (replaced by this one's).
    std::shared_ptr<OsmTrack> tryFindTrack(TrackList& refTracks, TrackList& lastTracks);
    // One leg: a straight line for a straight-line start, else re-routing
    // along a nearby stored track, pass 0 and pass 1, then re-tracking in
    // detail along the found route; inverseDirection searches each pass from
    // endWp back to startWp. The no-go list is restored afterwards.
    std::shared_ptr<OsmTrack> searchTrack(const std::shared_ptr<mapaccess::MatchedWaypoint>& startWp,
                                          const std::shared_ptr<mapaccess::MatchedWaypoint>& endWp,
                                          const std::shared_ptr<OsmTrack>& nearbyTrack, const OsmTrack* refTrack,
                                          bool inverseDirection = false);

    // Matches the waypoints with the profile's catching range, then the
    // unmatched and far ones with the dynamic range; with "add_beeline"
    // inserts straight-line waypoints to and from far ones.
    // IllegalArgumentException "<name>-position not mapped in existing
    // datafile" when a waypoint stays unmatched.
    void matchWaypointsToNodes(MatchedWaypointList& waypoints);
    // Cuts a spur (or a detour through a roundabout) at the via point where
    // the track so far (tt) and the next leg (t) meet, before t is appended.
    // Decides everything before it changes anything: both tracks stay as
    // they are when there is nothing to cut or the cut would be too long.
    void snapPathConnection(OsmTrack& tt, OsmTrack& t, const mapaccess::MatchedWaypoint& startWp);
    // A short detailed search from one track point to another, or null.
    std::shared_ptr<OsmTrack> getExtraSegment(const OsmPathElement* from, const OsmPathElement* to);
    // The floor of the ascent hysteresis at a position: -5 metres on segment
    // files of elevation type 1, else -10.
    double elevationFilter(const mapaccess::OsmPos& position) const;

private:
    // Tests set up and inspect the state of searches and runs through it.
    friend class testing::EngineProbe;

    // ---- parts of the runs ----
    void addWayBack();
    // The final steps of a round trip that failed before its route run.
    void endRoundTripWithoutRoute();
    void retryAfterIsland();
    // The point at the waypoint's cross point, with its elevation
    // interpolated between the nearest track point and its neighbour.
    static std::shared_ptr<OsmNodeNamed> informationPoint(const OsmTrack& track,
                                                          const mapaccess::MatchedWaypoint& info);
    void addInformationPoint(OsmTrack& track, std::shared_ptr<OsmNodeNamed> point,
                             const std::shared_ptr<mapaccess::MatchedWaypoint>& info, const util::ByteArray& wayTags);
    void closeNodesCache();
    void replaceMatchedWaypoints(MatchedWaypointList waypoints);
    // Drops the matched waypoints, keeping them alive for the run.
    void retireMatchedWaypoints();
    void addBeelineWaypoints(MatchedWaypointList& waypoints);
    void checkWaypointsAgainstNogos();
    void checkIslands();
    void addViaPointNogo(const OsmTrack& seg, const mapaccess::MatchedWaypoint& via, std::size_t number);
    std::shared_ptr<OsmTrack> readReferenceTrack(const std::string& path, const OsmNodeNamed& target);
    std::shared_ptr<OsmTrack> straightLeg(const mapaccess::MatchedWaypoint& start,
                                          const mapaccess::MatchedWaypoint& end, bool inverseDirection);
    // Stores a track as the found raw track, stamped for a later check.
    void offerRawTrack(std::shared_ptr<OsmTrack> track, const std::shared_ptr<mapaccess::MatchedWaypoint>& endWp,
                       bool dirty);
    void correctAtRoundabout(OsmTrack& tt, OsmTrack& t, std::size_t s, std::size_t i,
                             std::optional<std::size_t> meetingIndex);
    void bridgeToDetour(OsmTrack& tt, OsmTrack& t, const std::shared_ptr<OsmPathElement>& last);
    // The four sectors around start counted from the map data by a second
    // engine with the profile "dummy.vpf" beside the request's.
    static void scanSectors(const jcompat::File& segmentDir, const std::optional<std::string>& profilePath,
                            const std::shared_ptr<OsmNodeNamed>& start, double searchRadius,
                            const std::shared_ptr<mapaccess::MatchedWaypoint>& info, std::vector<AreaInfo>& sectors);

    // Moves a match path made during the search out of the search's pool.
    void keepMatchPath();
    // Ends a search: restores the no-go list, cleans the node cache, empties
    // the open set and recycles the search's pools.
    void endSearch();

    // ---- inputs ----
    jcompat::File segmentDir_;
    OsmNodeNamedList waypoints_;
    RoutingContext& routingContext_;
    std::int32_t engineMode_;

    // ---- results ----
    std::shared_ptr<OsmTrack> foundTrack_;
    std::optional<std::string> errorMessage_;

    // ---- state shared by the searches of a run ----
    std::unique_ptr<mapaccess::NodesCache> nodesCache_;
    PathSearch search_;
    std::optional<MatchedWaypointList> matchedWaypoints_;
    mapaccess::OsmNodePairSet islandNodePairs_{ISLAND_PAIR_CAPACITY};
    // The settings of the running search.
    SearchSettings settings_;
    // Where a search met its cost-cutting track: a chain of points that
    // outlives the search (it persists between the passes of a leg).
    OsmPathElement* matchPath_ = nullptr;
    std::shared_ptr<OsmTrack> foundRawTrack_;
    // Weights of the air distance in the open set's key: the current pass's
    // and the previous pass's.
    double airDistanceCostFactor_ = 0.0;
    double lastAirDistanceCostFactor_ = 0.0;
    std::int64_t startTime_ = 0;      // milliseconds
    std::int64_t maxRunningTime_ = 0; // milliseconds; 0 or less: none
    bool directWeaving_ = true;

    std::atomic<bool> terminated_{false};
    // Matched-waypoint lists a run has replaced: a node cache's matcher may
    // still refer to them.
    std::vector<MatchedWaypointList> retiredWaypoints_;
    std::deque<OsmPathElement> matchPathChain_;
};

} // namespace ferrow::router
