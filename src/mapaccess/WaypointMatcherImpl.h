#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/WaypointMatcher.h"
#include "mapaccess/MatchedWaypoint.h"

namespace ferrow::mapaccess {

class OsmNodePairSet;

// Matches waypoints to the nearest accessible way segment while tiles are
// decoded: for each waypoint it keeps the nearest cross point found so far
// and up to five candidate ways (each way in both directions), ordered by
// distance and then by how well the way agrees with the direction of travel.
class WaypointMatcherImpl final : public codec::WaypointMatcher {
public:
    static constexpr std::size_t MAX_CANDIDATES = 5;

    // The waypoints must outlive the matcher. A negative maximum distance
    // (metres) asks for dynamic range: its magnitude is the radius, and the
    // caller widens the preloaded area until a waypoint is matched. Sets every
    // waypoint's radius to that distance and fills in the directions of travel.
    WaypointMatcherImpl(std::span<MatchedWaypoint* const> waypoints, double maxDistance,
                        const OsmNodePairSet* islandPairs);

    void end() override;
    bool hasMatch(std::int32_t ilon, std::int32_t ilat) override;
    bool start(std::int32_t ilonStart, std::int32_t ilatStart, std::int32_t ilonTarget, std::int32_t ilatTarget,
               bool isStartWay) override;
    void transferNode(std::int32_t ilon, std::int32_t ilat) override;

    double maxDistance() const noexcept { return maxDistance_; }

    // Degrees in [0, 360) from A to B on the raw grid differences: 0 north, 90 east.
    static double bearing(std::int32_t ilonA, std::int32_t ilatA, std::int32_t ilonB, std::int32_t ilatB);
    static double bearing(const OsmPos& a, const OsmPos& b) {
        return bearing(a.getILon(), a.getILat(), b.getILon(), b.getILat());
    }

private:
    void checkSegment(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2);
    // Adds the way in one direction (from -> to) as a candidate of mwp.
    void addCandidate(MatchedWaypoint& mwp, std::int32_t fromLon, std::int32_t fromLat, std::int32_t toLon,
                      std::int32_t toLat, const char* nameTag);
    static void updateWayList(std::vector<MatchedWaypoint>& ways, MatchedWaypoint candidate);

    std::vector<MatchedWaypoint*> waypoints_;
    const OsmNodePairSet* islandPairs_;
    double maxDistance_;
    std::int32_t lonStart_ = 0;
    std::int32_t latStart_ = 0;
    std::int32_t lonTarget_ = 0;
    std::int32_t latTarget_ = 0;
    std::int32_t lonLast_ = 0;
    std::int32_t latLast_ = 0;
    bool anyUpdate_ = false;
    // Whether the current way may be matched to the first waypoint.
    bool firstWaypointAllowed_ = true;
};

} // namespace ferrow::mapaccess
