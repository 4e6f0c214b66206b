#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "codec/WaypointMatcher.h"
#include "mapaccess/DecodedTile.h"

namespace ferrow::mapaccess {

class OsmNode;
class OsmNodesMap;

// Weaves a decoded tile straight into the graph: nodes, turn restrictions and
// links with their tags and geometry, joined to the hollow nodes that links
// of neighbouring tiles created in the node map. Afterwards the map's
// peninsula cut runs over the tile's nodes (unless its cleanup mode is 0).
//
// A tile node found in the node table is completed in place and leaves the
// table (unless it is an end node of the search); the others are created new,
// outside the table, reachable through their links only.
class DirectWeaver {
public:
    // With a waypoint matcher, the matcher is also fed the tile's usable ways,
    // as decoding the tile would have fed it.
    // The node map keeps the tile: its links' shapes point into it.
    DirectWeaver(std::shared_ptr<const DecodedTile> tile, OsmNodesMap& hollowNodes,
                 codec::WaypointMatcher* waypointMatcher);
    DirectWeaver(const DirectWeaver&) = delete;
    DirectWeaver& operator=(const DirectWeaver&) = delete;

private:
    // The tile's node n, created on first use: nodes the stream never reaches
    // cost nothing, whatever the node count claims.
    OsmNode* node(std::int32_t n);
    void adoptKnown(std::size_t n, OsmNode* known);
    void weaveLink(std::size_t index);
    void feedMatcher(codec::WaypointMatcher& matcher) const;

    const DecodedTile* tile_;
    OsmNodesMap* nodesMap_;
    std::vector<OsmNode*> nodes_;
    std::vector<std::pair<std::int32_t, OsmNode*>> knownScratch_;
};

} // namespace ferrow::mapaccess
