#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/StatCoderContext.h"
#include "codec/TagValueCoder.h"
#include "expressions/TagValueValidator.h"
#include "mapaccess/LinkGeometry.h"
#include "mapaccess/LinkShape.h"
#include "util/ByteArray.h"

namespace ferrow::mapaccess {

// What decoding a tile body hands to the graph, in the order the body gives
// it: per node its turn restrictions, its elevation and tags, then its links.
// Only the tile's bytes and place decide it: way tag sets are kept as the tile
// codes them, and each search filters them through its own profile when it
// weaves the tile (DirectWeaver). So it is kept (DecodedTileCache) and later
// searches of any profile weave the tile from it without decoding the bit
// stream again.
class DecodedTile {
public:
    DecodedTile() = default;
    // Moved, never copied: the shapes point into the tile's own arrays.
    DecodedTile(DecodedTile&&) noexcept = default;
    DecodedTile& operator=(DecodedTile&&) noexcept = default;
    DecodedTile(const DecodedTile&) = delete;
    DecodedTile& operator=(const DecodedTile&) = delete;

    struct Restriction {
        std::int32_t fromLon;
        std::int32_t fromLat;
        std::int32_t toLon;
        std::int32_t toLat;
        std::int16_t exceptions;
        bool positive;
    };

    // A link with way tags (the decoder drops the others before the graph sees them).
    struct Link {
        // The coded intermediate points, absent when there are none; they lie
        // in the tile's link data.
        LinkGeometry geometry;
        // The way's tag set: an index into wayTagSets.
        std::int32_t wayTagSet;
        std::int32_t node;
        // The tile's node at the other end, or -1 for a node of another tile.
        std::int32_t target;
        std::int32_t targetLon;
        std::int32_t targetLat;
        bool reverse;
    };

    // A way tag set of the tile as coded: its pairs in wayTagPairs.
    using WayTagSet = codec::TagValueCoder::RawLeaf;

    // The way tag set of a node's links out of the tile: NO_LINK_OUT without
    // any, SEVERAL_LINKS_OUT where they differ.
    static constexpr std::int32_t NO_LINK_OUT = -1;
    static constexpr std::int32_t SEVERAL_LINKS_OUT = -2;

    struct Node {
        util::ByteArray tags;
        // Ends (exclusive) of the node's restrictions and links in the lists below.
        std::uint32_t restrictionsEnd;
        std::uint32_t linksEnd;
        std::int16_t elevation;
        // Kept in what was padding: asked of scattered nodes, it spares reading their links.
        std::int32_t linkOutTagSet;
    };

    std::vector<std::int32_t> lons;
    std::vector<std::int32_t> lats;
    std::vector<Node> nodes;
    std::vector<Restriction> restrictions;
    std::vector<Link> links;
    std::vector<WayTagSet> wayTagSets;
    std::vector<std::int32_t> wayTagPairs;
    // One per link, for the forward links whose sections can all be measured
    // (a reverse link record carries no points); empty for the others.
    std::vector<LinkShape> shapes;

    // Decodes the tile body that coder reads (tileBytes bytes, body and footer).
    static DecodedTile decode(codec::StatCoderContext& coder, codec::DataBuffers& buffers, std::int32_t lonIdx,
                              std::int32_t latIdx, std::int32_t tilesPerDegree, std::int32_t tileBytes);

    // Way tag set i as the profiles' filter takes it.
    expressions::RawTagSet rawTagSet(std::size_t i) const noexcept {
        const WayTagSet& set = wayTagSets[i];
        return expressions::RawTagSet{std::span<const std::int32_t>(wayTagPairs).subspan(set.offset, set.count),
                                      set.hash};
    }

    // Memory held, roughly: what a cache of decoded tiles counts.
    std::size_t byteSize() const noexcept;

    // The tile's nodes at this position (a tile may hold several), as pairs of
    // node identifier and index, indexes ascending.
    std::span<const std::pair<std::int64_t, std::int32_t>> nodesAt(std::int32_t ilon, std::int32_t ilat) const noexcept;
    // Whether the position lies within the box around the tile's nodes.
    bool mayHold(std::int32_t ilon, std::int32_t ilat) const noexcept {
        return (ilon >= minLon_) & (ilon <= maxLon_) & (ilat >= minLat_) & (ilat <= maxLat_);
    }

    // The shape of link i, or null when it has none.
    const LinkShape* shapeOf(std::size_t i) const noexcept {
        return i < shapes.size() && shapes[i].present() ? &shapes[i] : nullptr;
    }
    // What the peninsula cut of a search left of the tile, where only the tile
    // and the profile's choice of ways decided it: the links that lead
    // nowhere afterwards and the nodes the cut counted. Searches weaving the
    // tile again under the same choice weave the rest and skip the cut.
    struct CutMemo {
        // Bit i: way tag set i is woven.
        std::vector<std::uint64_t> wovenTagSets;
        std::int32_t cleanupMode;
        // Bit i: link i is not woven.
        std::vector<std::uint64_t> skippedLinks;
        std::int32_t countedNodes;
    };
    // Profiles with a memo each; a tile is rarely woven under more.
    static constexpr std::size_t MAX_CUT_MEMOS = 4;
    const CutMemo* findCutMemo(std::span<const std::uint64_t> wovenTagSets, std::int32_t cleanupMode) const noexcept;
    bool hasRoomForCutMemo() const noexcept { return cutMemos_.size() < MAX_CUT_MEMOS; }
    // Kept like the tile itself: by one thread at a time. byteSize counts the
    // room for them from the start.
    void keepCutMemo(CutMemo memo) const;

    // The tile's way tag sets as a validator of this filter identity filters
    // them (TagValueValidator::filterIdentity), kept for a few identities.
    static constexpr std::size_t MAX_FILTER_MEMOS = 4;
    const std::vector<expressions::FilteredTagSet>* findFilterMemo(std::uint64_t identity) const noexcept;
    // Kept while there is room; as keepCutMemo.
    void keepFilterMemo(std::uint64_t identity, std::vector<expressions::FilteredTagSet> filtered) const;

    // The shape points and coded points that the links point into: a graph
    // woven from this tile keeps them, and not the whole tile. Null when the
    // tile has neither.
    const std::shared_ptr<const TileLinkData>& linkData() const noexcept { return linkData_; }

private:
    // Works out the links' shapes once all links are read, into points.
    void measureShapes(std::vector<ShapePoint>& points);
    // Sorts the node positions for indexOf, and notes the links out of the tile.
    void indexPositions();

    // Node positions (as node identifiers) with their indexes, in identifier order.
    std::vector<std::pair<std::int64_t, std::int32_t>> positions_;
    std::int32_t minLon_ = 0;
    std::int32_t maxLon_ = -1;
    std::int32_t minLat_ = 0;
    std::int32_t maxLat_ = -1;

    std::shared_ptr<const TileLinkData> linkData_;
    mutable std::vector<CutMemo> cutMemos_;
    mutable std::vector<std::pair<std::uint64_t, std::vector<expressions::FilteredTagSet>>> filterMemos_;
};

} // namespace ferrow::mapaccess
