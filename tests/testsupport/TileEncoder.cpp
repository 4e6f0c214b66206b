#include "testsupport/TileEncoder.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <queue>
#include <stdexcept>
#include <string>

#include "codec/TileLocalId.h"
#include "jcompat/Exceptions.h"
#include "testsupport/StatEncoder.h"
#include "util/ByteDataWriter.h"
#include "util/Crc32.h"

namespace ferrow::testsupport {

namespace {

std::int32_t wrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::int32_t signedVarLengthSize(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return util::ByteDataWriter::varLengthSize(v < 0 ? ((0U - u) << 1) | 1U : u << 1);
}

// A prefix-code tree over the distinct tag sets of a tile, the most used
// ones nearest the root.
class TagTree {
public:
    void count(const CodedTagSet& tags) {
        const auto [it, added] = symbolOf_.try_emplace(tags, static_cast<std::int32_t>(symbols_.size()));
        if (added) {
            symbols_.push_back(tags);
            weights_.push_back(0);
        }
        ++weights_[static_cast<std::size_t>(it->second)];
    }

    void build() {
        if (symbols_.empty()) {
            symbols_.emplace_back(); // a lone empty leaf that nothing uses
            weights_.push_back(0);
        }
        for (std::size_t i = 0; i < symbols_.size(); ++i) {
            nodes_.push_back(Node{weights_[i], -1, -1, static_cast<std::int32_t>(i)});
        }
        using Entry = std::pair<std::int64_t, std::int32_t>; // weight, node (older first on ties)
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            queue.emplace(nodes_[i].weight, static_cast<std::int32_t>(i));
        }
        while (queue.size() > 1) {
            const auto [w0, n0] = queue.top();
            queue.pop();
            const auto [w1, n1] = queue.top();
            queue.pop();
            nodes_.push_back(Node{w0 + w1, n0, n1, -1});
            queue.emplace(w0 + w1, static_cast<std::int32_t>(nodes_.size() - 1));
        }
        root_ = queue.top().second;
        codes_.resize(symbols_.size());
        assignCodes(root_, {});
    }

    void writeTree(StatEncoder& out) const { writeTree(out, root_); }

    void writeCode(StatEncoder& out, const CodedTagSet& tags) const {
        for (bool bit : codes_[static_cast<std::size_t>(symbolOf_.at(tags))]) {
            out.encodeBit(bit);
        }
    }

private:
    struct Node {
        std::int64_t weight;
        std::int32_t child0;
        std::int32_t child1;
        std::int32_t symbol;
    };

    void assignCodes(std::int32_t node, std::vector<bool> path) {
        const Node& n = nodes_[static_cast<std::size_t>(node)];
        if (n.symbol >= 0) {
            codes_[static_cast<std::size_t>(n.symbol)] = path;
            return;
        }
        path.push_back(false);
        assignCodes(n.child0, path);
        path.back() = true;
        assignCodes(n.child1, path);
    }

    void writeTree(StatEncoder& out, std::int32_t node) const {
        const Node& n = nodes_[static_cast<std::size_t>(node)];
        if (n.symbol >= 0) {
            out.encodeBit(false);
            symbols_[static_cast<std::size_t>(n.symbol)].writeTo(out);
            return;
        }
        out.encodeBit(true);
        writeTree(out, n.child0);
        writeTree(out, n.child1);
    }

    std::map<CodedTagSet, std::int32_t> symbolOf_;
    std::vector<CodedTagSet> symbols_;
    std::vector<std::int64_t> weights_;
    std::vector<Node> nodes_;
    std::vector<std::vector<bool>> codes_;
    std::int32_t root_ = 0;
};

// The content with its nodes in identifier order and link targets renumbered.
struct OrderedTile {
    std::vector<std::int32_t> ids;
    std::vector<TileContent::Node> nodes;
};

OrderedTile orderNodes(const TileContent& tile) {
    const std::int32_t cell = 1000000 / tile.tilesPerDegree;
    const std::int32_t originLon = tile.lonIdx * cell;
    const std::int32_t originLat = tile.latIdx * cell;
    const std::size_t count = tile.nodes.size();
    std::vector<std::int32_t> idOf(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t dx = tile.nodes[i].ilon - originLon;
        const std::int32_t dy = tile.nodes[i].ilat - originLat;
        if (dx < 0 || dx >= cell || dy < 0 || dy >= cell) {
            throw std::invalid_argument("node " + std::to_string(tile.nodes[i].ilon) + "/" +
                                        std::to_string(tile.nodes[i].ilat) + " outside tile " +
                                        std::to_string(tile.lonIdx) + "/" + std::to_string(tile.latIdx));
        }
        idOf[i] = codec::tile_local_id::shrink(dx, dy);
    }
    std::vector<std::int32_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return idOf[static_cast<std::size_t>(a)] < idOf[static_cast<std::size_t>(b)];
    });
    std::vector<std::int32_t> newIndex(count);
    OrderedTile ordered;
    for (std::size_t i = 0; i < count; ++i) {
        const auto old = static_cast<std::size_t>(order[i]);
        newIndex[old] = static_cast<std::int32_t>(i);
        if (i > 0 && idOf[old] == ordered.ids.back() && !tile.sharedPositions) {
            throw std::invalid_argument("two nodes at " + std::to_string(tile.nodes[old].ilon) + "/" +
                                        std::to_string(tile.nodes[old].ilat));
        }
        ordered.ids.push_back(idOf[old]);
        ordered.nodes.push_back(tile.nodes[old]);
    }
    for (std::size_t i = 0; i < count; ++i) {
        TileContent::Node& node = ordered.nodes[i];
        for (TileContent::Link& link : node.links) {
            if (link.target >= 0) {
                if (link.reverse || static_cast<std::size_t>(link.target) >= count || link.target == order[i]) {
                    throw std::invalid_argument("an internal link runs forward to another node of the tile");
                }
                const TileContent::Node& target = tile.nodes[static_cast<std::size_t>(link.target)];
                link.dlon = wrapSub(target.ilon, node.ilon);
                link.dlat = wrapSub(target.ilat, node.ilat);
                link.target = newIndex[static_cast<std::size_t>(link.target)];
            } else if (link.reverse && !link.points.empty()) {
                throw std::invalid_argument("a reverse link record carries no points");
            }
        }
    }
    return ordered;
}

std::int32_t restrictionBitLength(const TileContent::Node& node, const TileContent::Restriction& r) {
    return 1 + StatEncoder::noisyDiffLength(wrapSub(r.fromLon, node.ilon), 10) +
           StatEncoder::noisyDiffLength(wrapSub(r.fromLat, node.ilat), 10) +
           StatEncoder::noisyDiffLength(wrapSub(r.toLon, node.ilon), 10) +
           StatEncoder::noisyDiffLength(wrapSub(r.toLat, node.ilat), 10);
}

std::int32_t recordSizeOf(const std::vector<TileContent::Node>& nodes) {
    std::int32_t size = 0;
    for (const TileContent::Node& node : nodes) {
        size += 20 * static_cast<std::int32_t>(node.restrictions.size()) + 1 + 2;
        const std::int32_t tagLength = node.nodeTags.empty() ? 0 : node.nodeTags.toBytes().size();
        size += util::ByteDataWriter::varLengthSize(static_cast<std::uint32_t>(tagLength)) + tagLength;
        for (const TileContent::Link& link : node.links) {
            const std::int32_t wayTagLength = link.wayTags.empty() ? 0 : link.wayTags.toBytes().size();
            std::int32_t content = signedVarLengthSize(link.dlon) + signedVarLengthSize(link.dlat) +
                                   util::ByteDataWriter::varLengthSize(static_cast<std::uint32_t>(wayTagLength) << 1) +
                                   wayTagLength;
            if (wayTagLength > 0) {
                for (const TileContent::Point& p : link.points) {
                    content += signedVarLengthSize(p.dlon) + signedVarLengthSize(p.dlat) +
                               signedVarLengthSize(p.elevationStep);
                }
            }
            size += util::ByteDataWriter::varLengthSize(static_cast<std::uint32_t>(content)) + content;
        }
    }
    return size;
}

std::vector<util::Byte> encodeOrdered(const OrderedTile& tile, std::int32_t capacity) {
    TagTree wayTree;
    TagTree nodeTree;
    std::vector<std::int32_t> indexSteps;
    std::vector<std::int32_t> elevationSteps;
    std::vector<std::int32_t> externalLons;
    std::vector<std::int32_t> externalLats;
    std::vector<std::int32_t> pointElevationSteps;
    std::int32_t elevation = 0;
    for (std::size_t n = 0; n < tile.nodes.size(); ++n) {
        const TileContent::Node& node = tile.nodes[n];
        nodeTree.count(node.nodeTags);
        elevationSteps.push_back(wrapSub(node.elevation, elevation));
        elevation = node.elevation;
        for (const TileContent::Link& link : node.links) {
            wayTree.count(link.wayTags);
            if (link.target >= 0) {
                indexSteps.push_back(link.target - static_cast<std::int32_t>(n));
            } else {
                indexSteps.push_back(0);
                externalLons.push_back(link.dlon);
                externalLats.push_back(link.dlat);
            }
            for (const TileContent::Point& p : link.points) {
                pointElevationSteps.push_back(p.elevationStep);
            }
        }
    }
    wayTree.build();
    nodeTree.build();
    const std::int32_t indexBits = StatEncoder::bestNoisyBits(indexSteps);
    const std::int32_t elevationBits = StatEncoder::bestNoisyBits(elevationSteps);
    const std::int32_t lonBits = StatEncoder::bestNoisyBits(externalLons);
    const std::int32_t latBits = StatEncoder::bestNoisyBits(externalLats);
    const std::int32_t pointElevationBits = StatEncoder::bestNoisyBits(pointElevationSteps);

    StatEncoder out(capacity);
    wayTree.writeTree(out);
    nodeTree.writeTree(out);
    for (std::int32_t bits : {indexBits, elevationBits, lonBits, latBits, pointElevationBits}) {
        out.encodeVarBits(bits);
    }
    out.encodeNoisyNumber(static_cast<std::int32_t>(tile.nodes.size()), 5);
    out.encodeSortedArray(tile.ids, 29);
    out.encodeNoisyNumber(recordSizeOf(tile.nodes), 10);

    elevation = 0;
    for (std::size_t n = 0; n < tile.nodes.size(); ++n) {
        const TileContent::Node& node = tile.nodes[n];
        for (const TileContent::OtherFeature& feature : node.otherFeatures) {
            out.encodeVarBits(feature.id);
            out.encodeNoisyNumber(feature.bitCount, 5);
            for (std::int32_t bit = 0; bit < feature.bitCount; ++bit) {
                out.encodeBit(bit % 3 == 0);
            }
        }
        for (const TileContent::Restriction& r : node.restrictions) {
            if (r.exceptions != 0) {
                out.encodeVarBits(2);
                out.encodeNoisyNumber(10, 5);
                out.encodeBounded(1023, r.exceptions);
            }
            out.encodeVarBits(1);
            out.encodeNoisyNumber(restrictionBitLength(node, r), 5);
            out.encodeBit(r.positive);
            out.encodeNoisyDiff(wrapSub(r.fromLon, node.ilon), 10);
            out.encodeNoisyDiff(wrapSub(r.fromLat, node.ilat), 10);
            out.encodeNoisyDiff(wrapSub(r.toLon, node.ilon), 10);
            out.encodeNoisyDiff(wrapSub(r.toLat, node.ilat), 10);
        }
        out.encodeVarBits(0);
        out.encodeNoisyDiff(wrapSub(node.elevation, elevation), elevationBits);
        elevation = node.elevation;
        nodeTree.writeCode(out, node.nodeTags);
        out.encodeNoisyNumber(static_cast<std::int32_t>(node.links.size()), 1);
        for (const TileContent::Link& link : node.links) {
            if (link.target >= 0) {
                out.encodeNoisyDiff(link.target - static_cast<std::int32_t>(n), indexBits);
            } else {
                out.encodeNoisyDiff(0, indexBits);
                out.encodeBit(link.reverse);
                out.encodeNoisyDiff(link.dlon, lonBits);
                out.encodeNoisyDiff(link.dlat, latBits);
            }
            wayTree.writeCode(out, link.wayTags);
            if (link.reverse) {
                continue;
            }
            const auto pointCount = static_cast<std::int32_t>(link.points.size());
            out.encodeVarBits(pointCount);
            std::int32_t remainingLon = link.dlon;
            std::int32_t remainingLat = link.dlat;
            for (std::int32_t i = 0; i < pointCount; ++i) {
                const TileContent::Point& p = link.points[static_cast<std::size_t>(i)];
                const std::int32_t sections = pointCount + 1 - i;
                out.encodePredictedValue(p.dlon, remainingLon / sections);
                out.encodePredictedValue(p.dlat, remainingLat / sections);
                out.encodeNoisyDiff(p.elevationStep, pointElevationBits);
                remainingLon = wrapSub(remainingLon, p.dlon);
                remainingLat = wrapSub(remainingLat, p.dlat);
            }
        }
    }
    return out.finish();
}

} // namespace

std::vector<util::Byte> TileEncoder::encodeBody(const TileContent& tile) {
    const OrderedTile ordered = orderNodes(tile);
    for (std::int32_t capacity = 4096;; capacity *= 2) {
        try {
            return encodeOrdered(ordered, capacity);
        } catch (const jcompat::IndexOutOfBoundsException&) {
            // the buffer was too small: start over with a larger one
        }
    }
}

std::vector<util::Byte> TileEncoder::encode(const TileContent& tile, Footer footer, std::int32_t padding) {
    std::vector<util::Byte> bytes = encodeBody(tile);
    bytes.resize(bytes.size() + static_cast<std::size_t>(padding));
    return withFooter(bytes, footer);
}

std::vector<util::Byte> TileEncoder::withFooter(std::span<const util::Byte> body, Footer footer) {
    std::vector<util::Byte> bytes(body.begin(), body.end());
    const std::int32_t crc = util::Crc32::crc(body);
    const auto value = static_cast<std::uint32_t>(footer == Footer::Current ? crc ^ 2 : crc);
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<util::Byte>(value >> shift));
    }
    return bytes;
}

std::int32_t TileEncoder::recordSize(const TileContent& tile) { return recordSizeOf(orderNodes(tile).nodes); }

} // namespace ferrow::testsupport
