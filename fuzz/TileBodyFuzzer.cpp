// One tile body of arbitrary bytes, decoded both ways: into a decoded tile
// (whose nodes are then parsed into a graph) and, decoded once for any
// profile, woven into a node map, with the bike profile's way context as tag
// filter and a waypoint matcher fed on the way. Damaged bytes may only end in our own exceptions.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "codec/DataBuffers.h"
#include "codec/MicroCache2.h"
#include "codec/StatCoderContext.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/DecodedTile.h"
#include "mapaccess/DirectWeaver.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/WaypointMatcherImpl.h"

namespace {

using namespace ferrow;

// The tile at 10.0 E, 47.52 N (the demo town's centre), 80 tiles per degree.
constexpr std::int32_t TILES_PER_DEGREE = 80;
constexpr std::int32_t LON_IDX = 190000000 / 12500;
constexpr std::int32_t LAT_IDX = 137520000 / 12500;

fuzz::Profile& profile() {
    static fuzz::Profile bike(fuzz::profilePath("lookups.dat"), fuzz::profilePath("bike.vpf"));
    return bike;
}

mapaccess::MatchedWaypoint centreWaypoint() {
    mapaccess::MatchedWaypoint waypoint;
    waypoint.waypoint = std::make_shared<mapaccess::OsmNode>(LON_IDX * 12500 + 6250, LAT_IDX * 12500 + 6250);
    return waypoint;
}

// A waypoint matcher of one waypoint in the tile's middle.
struct Matcher {
    mapaccess::MatchedWaypoint waypoint = centreWaypoint();
    mapaccess::MatchedWaypoint* waypoints[1] = {&waypoint};
    mapaccess::WaypointMatcherImpl matcher{waypoints, 250.0, nullptr};
};

// Decodes the tile and parses its nodes; the positions of its nodes.
std::vector<std::int64_t> decodeTile(std::span<const util::Byte> bytes, codec::DataBuffers& buffers) {
    Matcher matching;
    mapaccess::WaypointMatcherImpl& matcher = matching.matcher;
    codec::StatCoderContext coder(bytes);
    codec::MicroCache2 tile(coder, buffers, LON_IDX, LAT_IDX, TILES_PER_DEGREE, &profile().way, &matcher,
                            static_cast<std::int32_t>(bytes.size()));
    std::vector<std::int64_t> positions;
    if (tile.getSize() == 0) return positions;
    // A node map costs more than a small tile (its tag unifier alone is 128 kB):
    // only a tile with nodes gets one.
    mapaccess::OsmNodesMap map;
    for (const std::int32_t id : std::vector<std::int32_t>(tile.nodeIds().begin(), tile.nodeIds().end())) {
        const std::int64_t position = tile.expandId(id);
        positions.push_back(position);
        mapaccess::OsmNode* node =
            map.createNode(static_cast<std::int32_t>(position >> 32), static_cast<std::int32_t>(position & 0xFFFFFFFF));
        if (tile.getAndClear(position)) {
            node->parseNodeBody(tile, map, map.byteArrayUnifier());
        }
    }
    return positions;
}

// Weaves the tile into a node map in which hollow nodes wait at the given
// positions, as links of neighbouring tiles and the search leave them.
void weaveTile(std::span<const util::Byte> bytes, codec::DataBuffers& buffers, std::span<const std::int64_t> hollow,
               std::int32_t cleanupMode) {
    mapaccess::OsmNodesMap map;
    map.cleanupMode = cleanupMode;
    for (const std::int64_t position : hollow) {
        mapaccess::OsmNode* node =
            map.createNode(static_cast<std::int32_t>(position >> 32), static_cast<std::int32_t>(position & 0xFFFFFFFF));
        node->setHollow();
        map.put(node);
    }
    codec::StatCoderContext coder(bytes);
    const auto decoded = std::make_shared<const mapaccess::DecodedTile>(mapaccess::DecodedTile::decode(
        coder, buffers, LON_IDX, LAT_IDX, TILES_PER_DEGREE, static_cast<std::int32_t>(bytes.size())));
    const auto wayTags = mapaccess::DirectWeaver::filterWayTags(*decoded, profile().way, buffers.wayTagSets);
    Matcher matching;
    mapaccess::DirectWeaver(decoded, map, wayTags, profile().way, &matching.matcher);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static codec::DataBuffers buffers;
    const std::span<const util::Byte> bytes(reinterpret_cast<const util::Byte*>(data), size);
    std::vector<std::int64_t> positions;
    try {
        positions = decodeTile(bytes, buffers);
    } catch (const jcompat::Throwable&) {
    }
    // Every other node of the tile is waited for; the rest are new to the map.
    std::vector<std::int64_t> hollow;
    for (std::size_t i = 0; i < positions.size(); i += 2) hollow.push_back(positions[i]);
    try {
        weaveTile(bytes, buffers, hollow, static_cast<std::int32_t>(size % 3));
    } catch (const jcompat::Throwable&) {
    }
    return 0;
}
