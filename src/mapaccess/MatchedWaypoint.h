#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mapaccess/OsmNode.h"

namespace ferrow::jcompat {
class DataInputStream;
}

namespace ferrow::mapaccess {

// A requested waypoint and the way segment it was matched to. The nodes are
// positions of their own, not nodes of any graph: the engine looks the
// segment's ends up in a search's node map by position.
class MatchedWaypoint {
public:
    MatchedWaypoint() = default;

    // Reads the big-endian record: node 1, node 2, cross point and waypoint
    // (each ilat then ilon), the radius as the bits of a double, the kind, a
    // signed 16-bit name length and the UTF-8 name. A record that ends early
    // fails with EOFException, a negative name length with IOException.
    static MatchedWaypoint readFromStream(jcompat::DataInputStream& in);

    // The ends of the matched way, in the chosen direction of travel.
    std::shared_ptr<OsmNode> node1;
    std::shared_ptr<OsmNode> node2;
    // The matched point on the way; none while unmatched.
    std::shared_ptr<OsmNode> crossPoint;
    // The requested position (the engine's named point, or a plain node).
    std::shared_ptr<OsmNode> waypoint;
    std::optional<std::string> name;
    // Metres from the waypoint to the cross point; while matching, the
    // current search radius.
    double radius = 0.0;
    // Degrees in [0, 360); -1.0 while unset.
    double directionToNext = -1.0;
    // Degrees in [0, 180]; 361.0 while unset.
    double directionDiff = 361.0;
    // Up to five candidate ways, best first.
    std::vector<MatchedWaypoint> nearestWays;
    // 1 ordinary, 2 via point, 3 start of a straight-line leg.
    std::int8_t kind = 1;
    // Set while a way is matched when this waypoint got a nearer cross point.
    bool hasUpdate = false;
    // The index of the assembled track's point at this waypoint.
    std::int32_t indexInTrack = 0;
};

} // namespace ferrow::mapaccess
