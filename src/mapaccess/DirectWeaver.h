#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "codec/WaypointMatcher.h"
#include "expressions/TagValueValidator.h"
#include "mapaccess/DecodedTile.h"

namespace ferrow::mapaccess {

class OsmLink;
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
//
// Where only the tile and the profile's choice of ways decide the cut (the
// known nodes are all ones with links out of the tile, and none is an end
// node), the tile keeps what the cut left, and later weaves under the same
// choice leave out what leads nowhere instead of walking the tile again.
class DirectWeaver {
public:
    // The tile's way tag sets as the search's profile sees them, in the order
    // of tile.wayTagSets: kept by the tile for the validator's filter
    // identity, or worked out into filtered. Valid while both are.
    [[nodiscard]] static std::span<const expressions::FilteredTagSet> filterWayTags(
        const DecodedTile& tile, expressions::TagValueValidator& wayValidator,
        std::vector<expressions::FilteredTagSet>& filtered);

    // Links whose way tag set the profile drops (access type 0) are left out.
    // With a waypoint matcher, the matcher is also fed the tile's usable ways,
    // with the validator's start-way check of this very run.
    // The node map keeps the tile's shape points: its links' shapes point
    // into them.
    DirectWeaver(std::shared_ptr<const DecodedTile> tile, OsmNodesMap& hollowNodes,
                 std::span<const expressions::FilteredTagSet> wayTags, expressions::TagValueValidator& wayValidator,
                 codec::WaypointMatcher* waypointMatcher);
    DirectWeaver(const DirectWeaver&) = delete;
    DirectWeaver& operator=(const DirectWeaver&) = delete;

private:
    // The tile's node n, created on first use: a node without restrictions
    // and without a link that the profile keeps is never created, since
    // nothing could reach it.
    OsmNode* node(std::int32_t n) {
        OsmNode* known = nodes_[static_cast<std::size_t>(n)];
        return known != nullptr ? known : createNode(static_cast<std::size_t>(n));
    }
    OsmNode* createNode(std::size_t n);
    // Elevation and tags.
    static void fill(OsmNode& tileNode, const DecodedTile::Node& data);
    void adoptKnownNodes();
    void adoptKnown(std::size_t n, OsmNode* known);
    void weaveNodes(const DecodedTile::CutMemo* memo, bool record);
    // The woven link for a link inside the tile, else null.
    OsmLink* weaveLink(std::size_t index);
    bool isWoven(std::int32_t wayTagSet) const noexcept;
    // Whether the known node adopted as tile node n leaves the cut to the tile alone.
    bool leavesCutToTile(std::size_t n, const OsmNode& known) const;
    bool hasWovenLinkOut(std::size_t n) const;
    void cut(bool record);
    void startBatchFromMemo();
    // What the cut just run left, or nothing where a link out of the tile
    // ends at a node position of the tile (a link to it may have been cut).
    std::optional<DecodedTile::CutMemo> memoOfCut(std::int32_t countedNodes);
    std::vector<bool> reachedAfterCut() const;
    void feedMatcher(codec::WaypointMatcher& matcher, expressions::TagValueValidator& wayValidator) const;

    const DecodedTile* tile_;
    OsmNodesMap* nodesMap_;
    std::span<const expressions::FilteredTagSet> wayTags_;
    std::vector<OsmNode*> nodes_;
    // The node whose restrictions and links are being woven.
    std::size_t current_ = 0;
    std::vector<std::pair<std::int32_t, OsmNode*>> knownScratch_;
    // Whether the tile and the profile's choice of ways alone decide the cut.
    bool cutDecidedByTile_ = true;
    // With a cut memo: the visit id of this batch, which every tile node
    // takes as it is woven; else 0.
    std::int32_t memoBatch_ = 0;
    std::vector<std::uint64_t> wovenTagSets_;
    // While a memo is made: the link woven for each tile link, and the cut ones.
    std::vector<OsmLink*> wovenLinks_;
    std::vector<OsmLink*> cutLinks_;
};

} // namespace ferrow::mapaccess
