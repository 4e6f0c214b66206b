// A whole segment file of arbitrary bytes, read through the node cache as a
// search reads it: the file checks, the sub-square indexes, waypoint matching
// over the tiles around the demo town's centre, then a walk over the woven
// graph that completes hollow nodes tile by tile, and decoded tiles at the
// corners of the file. Damaged bytes may only end in our own exceptions.
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

#include "FuzzSupport.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmNode.h"

namespace {

using namespace ferrow;

// The demo town's centre, 10.0 E, 47.52 N, lies in the file E10_N45.
constexpr std::int32_t CENTRE_LON = 190000000;
constexpr std::int32_t CENTRE_LAT = 137520000;
// Nodes completed by one walk: enough to cross several tiles.
constexpr std::size_t WALK_LIMIT = 400;

fuzz::Profile& profile() {
    static fuzz::Profile bike(fuzz::profilePath("lookups.dat"), fuzz::profilePath("bike.vpf"));
    return bike;
}

void readFile(const fuzz::ScratchDirectory& segments) {
    mapaccess::NodesCache cache(jcompat::File(segments.path()), profile().way, profile().meta, false, 16 * 1048576LL,
                                nullptr, false);
    std::vector<mapaccess::MatchedWaypoint> waypoints(1);
    waypoints[0].waypoint = std::make_shared<mapaccess::OsmNode>(CENTRE_LON + 100, CENTRE_LAT + 100);
    cache.matchWaypointsToNodes(waypoints, 250.0, nullptr);

    if (waypoints[0].node1 != nullptr) {
        std::deque<mapaccess::OsmNode*> queue{cache.getGraphNode(*waypoints[0].node1)};
        std::unordered_set<const mapaccess::OsmNode*> seen{queue.front()};
        while (!queue.empty() && seen.size() < WALK_LIMIT) {
            mapaccess::OsmNode* node = queue.front();
            queue.pop_front();
            if (!cache.obtainNonHollowNode(node)) continue;
            cache.expandHollowLinkTargets(node);
            for (const mapaccess::OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
                mapaccess::OsmNode* target = link->getTarget(node);
                if (target != nullptr && seen.insert(target).second) queue.push_back(target);
            }
        }
    }
    // The first and last tiles of the file, and one beside the centre.
    cache.getSegmentFor(190000000, 135000000);
    cache.getSegmentFor(194999999, 139999999);
    cache.getSegmentFor(CENTRE_LON + 12500, CENTRE_LAT);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchDirectory segments;
    segments.write("E10_N45.rd5", fuzz::asText(data, size));
    try {
        readFile(segments);
    } catch (const jcompat::Throwable&) {
    }
    return 0;
}
