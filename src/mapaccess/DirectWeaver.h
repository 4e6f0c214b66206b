#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/StatCoderContext.h"
#include "codec/TagValueWrapper.h"
#include "codec/WaypointMatcher.h"
#include "util/ByteDataWriter.h"

namespace ferrow::expressions {
class TagValueValidator;
}

namespace ferrow::mapaccess {

class OsmNode;
class OsmNodesMap;

// Decodes a tile body straight into the graph: nodes, turn restrictions and
// links with their tags and geometry, joined to the hollow nodes that links
// of neighbouring tiles created in the node map. Links without way tags are
// dropped. Afterwards the map's peninsula cut runs over the tile's nodes
// (unless its cleanup mode is 0).
//
// A tile node found in the node table is completed in place and leaves the
// table (unless it is an end node of the search); the others are created new,
// outside the table, reachable through their links only.
class DirectWeaver {
public:
    static constexpr bool EMPTY_NODE_FEATURE = false;

    // Weaves the tile body that coder reads (tileBytes bytes, body and footer).
    DirectWeaver(codec::StatCoderContext& coder, codec::DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                 std::int32_t tilesPerDegree, expressions::TagValueValidator* wayValidator,
                 codec::WaypointMatcher* waypointMatcher, OsmNodesMap& hollowNodes, std::int32_t tileBytes);
    DirectWeaver(const DirectWeaver&) = delete;
    DirectWeaver& operator=(const DirectWeaver&) = delete;

    // The sink of the tile body reader.
    void emptyNode(std::int32_t) {}
    void restriction(std::int32_t n, std::int16_t exceptions, bool positive, std::int32_t fromLon, std::int32_t fromLat,
                     std::int32_t toLon, std::int32_t toLat);
    void nodeData(std::int32_t n, std::int16_t elevation, const codec::TagValueWrapper* nodeTags);
    bool beginLink(std::int32_t n, std::int32_t target, std::int32_t targetLon, std::int32_t targetLat, bool reverse,
                   const codec::TagValueWrapper* wayTags);
    void geometryPoint(std::int32_t dlon, std::int32_t dlat, std::int32_t elevationStep);
    void endLink();
    void endNode(std::int32_t) {}

private:
    // The tile's node n, created on first use: nodes the stream never reaches
    // cost nothing, whatever the node count claims.
    OsmNode* node(std::int32_t n);

    OsmNodesMap* nodesMap_;
    const std::int32_t* lons_ = nullptr;
    const std::int32_t* lats_ = nullptr;
    std::vector<OsmNode*> nodes_;
    // Geometry bytes of the current link, written into the record buffer.
    std::span<util::Byte> geometryBuffer_;
    util::ByteDataWriter geometryWriter_;

    // The link being read.
    std::int32_t linkNode_ = 0;
    std::int32_t linkTarget_ = -1;
    std::int32_t linkLon_ = 0;
    std::int32_t linkLat_ = 0;
    bool linkReverse_ = false;
    const codec::TagValueWrapper* linkTags_ = nullptr;
};

} // namespace ferrow::mapaccess
