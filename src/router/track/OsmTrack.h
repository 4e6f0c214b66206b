#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "expressions/BExpressionContext.h"
#include "router/costing/OsmPathElement.h"
#include "router/costing/TrackPointMap.h"
#include "router/guidance/VoiceHintList.h"
#include "router/waypoints/OsmNodeNamed.h"

namespace ferrow::mapaccess {
class MatchedWaypoint;
}

namespace ferrow::router {

class RoutingContext;

// The result of a routing run and of every partial search: the track points
// in travel order, a map from node identifier to the points there, the detour
// points registered at the track's nodes, turn instructions and totals.
//
// Points are shared: a leg's points are also the whole route's after
// appendLeg, and a reference track holds the points of an earlier leg. A
// point's `origin` is the point before it in the track it was built for.
class OsmTrack {
public:
    using OsmPathElementHolder = router::OsmPathElementHolder;
    using HolderMap = TrackPointMap;

    // The header row of the message table.
    static constexpr std::string_view MESSAGES_HEADER =
        "Longitude\tLatitude\tElevation\tDistance\tCostPerKm\tElevCost\tTurnCost\tNodeCost\tInitialCost\t"
        "WayTags\tNodeTags\tTime\tEnergy";

    // "{" + each value followed by one blank + "}".
    static std::string formatLongs(std::span<const std::int64_t> values);

    OsmTrack();
    ~OsmTrack();
    OsmTrack(const OsmTrack&) = delete;
    OsmTrack& operator=(const OsmTrack&) = delete;

    std::shared_ptr<mapaccess::MatchedWaypoint> endWaypoint;
    std::optional<std::array<std::int64_t, 3>> nogoChecksums;
    std::int64_t profileStamp = 0;
    std::optional<expressions::VariableOverrides> profileOverrides;
    OsmNodeNamedList pois;
    std::deque<std::shared_ptr<OsmPathElement>> points;
    // Built by buildMap, then frozen.
    std::unique_ptr<HolderMap> pointMap;
    // Created by the first registerDetourForId; frozen on tracks a search returns.
    std::unique_ptr<HolderMap> detourMap;
    std::unique_ptr<VoiceHintList> turnHints;
    std::string name = "unset";
    std::vector<std::shared_ptr<mapaccess::MatchedWaypoint>> matchedWaypoints;
    std::int32_t distance = 0;       // metres
    std::int32_t filteredAscend = 0; // whole metres
    std::int32_t plainAscend = 0;    // whole metres
    std::int32_t cost = 0;
    std::int32_t energy = 0; // joules
    // The track came from a search that was cut short.
    bool dirty = false;
    bool showspeed = false;
    bool showSpeedProfile = false;
    bool showtime = false;
    // The run's summary line and the summary lines of the run so far.
    std::optional<std::string> message;
    std::optional<std::vector<std::string>> messageList;
    bool exportWaypoints = false;

    // Inserts at the front: a search adds the points of its element chain
    // from the end backwards, which yields travel order.
    void addNode(std::shared_ptr<OsmPathElement> element) { points.push_front(std::move(element)); }

    // Maps every point's node identifier to the chain of points there, in
    // list order, and freezes the map.
    void buildMap();

    // The point at toId reached from a point at fromId, or null (also when
    // the map was not built).
    OsmPathElement* getLink(std::int64_t fromId, std::int64_t toId) const;

    // Appends a detour point to the chain of id. RuntimeException "cannot put
    // on FrozenLongIntMap" when the detour map is frozen and id has no chain.
    void registerDetourForId(std::int64_t id, std::shared_ptr<OsmPathElement> element);
    // The first holder of id's detour chain, or null.
    const OsmPathElementHolder* getFromDetourMap(std::int64_t id) const;
    // Gives this track a frozen copy of other's detour map, sharing its chains
    // (other's map is frozen first when it is not yet).
    void copyDetoursOf(OsmTrack& other);

    // Joins t to the end of this track: t's first point is the same place as
    // this track's last and is dropped (unless this track is empty); t's
    // times, energies and costs are continued from this track's last point.
    // t keeps its points, which this track now shares.
    void appendLeg(OsmTrack& t);

    // Adds t's points (in reverse order) and builds the map: the node set of a
    // reference track.
    void addPointsOf(const OsmTrack& t);

    // Replaces turnHints with the turn instructions of a finished route. They
    // are worked out only where the search noted the ways left at the
    // track's junctions (a detour map) or the route has straight-line legs;
    // otherwise the list stays empty. IllegalArgumentException "ups: ..."
    // when a detour point's chain is endless.
    void processVoiceHints(RoutingContext& rc);

private:
    static const OsmPathElementHolder* lastOfChain(const OsmPathElementHolder* holder);
    // Freezes detourMap in place when it is not frozen yet.
    void freezeDetourMap();

    std::deque<OsmPathElementHolder> pointHolders_;
    // One bit per hashed identifier of pointMap: a search asks getLink of
    // nearly every path it takes, and most ask for points the map lacks.
    std::vector<std::uint64_t> pointFilter_;
    std::uint32_t pointFilterShift_ = 64;
    static std::uint64_t filterHash(std::int64_t id) noexcept {
        return static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ULL;
    }
    bool mayHoldPoint(std::int64_t id) const noexcept {
        if (pointFilter_.empty()) return true;
        const std::uint64_t bit = filterHash(id) >> pointFilterShift_;
        return (pointFilter_[bit >> 6] >> (bit & 63)) & 1;
    }
    // Holders of detour chains; shared with the tracks that share the chains.
    std::vector<std::shared_ptr<OsmPathElementHolder>> detourHolders_;
};

} // namespace ferrow::router
