#include "mapaccess/DecodedTile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>
#include <span>

#include "codec/TagValueWrapper.h"
#include "codec/TileBodyReader.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "mapaccess/OsmPos.h"
#include "util/ByteDataReader.h"
#include "util/ByteDataWriter.h"
#include "util/CheapAngleMeter.h"
#include "util/CheapRuler.h"

namespace ferrow::mapaccess {

namespace {

// The sink of the tile body reader that writes a DecodedTile.
class DecodedTileRecorder {
public:
    static constexpr bool EMPTY_NODE_FEATURE = false;

    // geometryBuffer is scratch space for one link's coded points, which then
    // go to geometryBytes, each preceded by its length; geometryOffsets gets
    // each link's offset there (-1 for none).
    DecodedTileRecorder(DecodedTile& tile, const codec::TagValueCoder& wayTagCoder,
                        std::span<util::Byte> geometryBuffer, std::vector<util::Byte>& geometryBytes,
                        std::vector<std::int64_t>& geometryOffsets)
        : tile_(&tile),
          wayTagCoder_(&wayTagCoder),
          geometryBuffer_(geometryBuffer),
          geometryBytes_(&geometryBytes),
          geometryOffsets_(&geometryOffsets) {}

    void emptyNode(std::int32_t) {}

    void restriction(std::int32_t, std::int16_t exceptions, bool positive, std::int32_t fromLon, std::int32_t fromLat,
                     std::int32_t toLon, std::int32_t toLat) {
        tile_->restrictions.push_back(DecodedTile::Restriction{fromLon, fromLat, toLon, toLat, exceptions, positive});
    }

    void nodeData(std::int32_t, std::int16_t elevation, const codec::TagValueWrapper* nodeTags) {
        tile_->nodes.push_back(DecodedTile::Node{nodeTags != nullptr ? nodeTags->data : util::ByteArray(),
                                                 static_cast<std::uint32_t>(tile_->restrictions.size()), 0, elevation,
                                                 DecodedTile::NO_LINK_OUT});
    }

    bool beginLink(std::int32_t n, std::int32_t target, std::int32_t targetLon, std::int32_t targetLat, bool reverse,
                   const codec::TagValueWrapper* wayTags) {
        inLink_ = wayTags != nullptr;
        if (!inLink_) return false;
        tile_->links.push_back(DecodedTile::Link{LinkGeometry(),
                                                 static_cast<std::int32_t>(wayTagCoder_->indexOf(*wayTags)), n, target,
                                                 targetLon, targetLat, reverse});
        geometryWriter_.reset(geometryBuffer_);
        geometryOffsets_->push_back(-1);
        return true;
    }

    void geometryPoint(std::int32_t dlon, std::int32_t dlat, std::int32_t elevationStep) {
        geometryWriter_.writeSignedVarLength(dlon);
        geometryWriter_.writeSignedVarLength(dlat);
        geometryWriter_.writeSignedVarLength(elevationStep);
        ++pointCount_;
    }

    void endLink() {
        if (!inLink_) return;
        const std::int32_t length = geometryWriter_.getPosition();
        if (length > 0) {
            const auto lengthBytes = std::bit_cast<std::array<util::Byte, sizeof(length)>>(length);
            geometryBytes_->insert(geometryBytes_->end(), lengthBytes.begin(), lengthBytes.end());
            geometryOffsets_->back() = static_cast<std::int64_t>(geometryBytes_->size());
            const std::span<const util::Byte> bytes = geometryBuffer_.first(static_cast<std::size_t>(length));
            geometryBytes_->insert(geometryBytes_->end(), bytes.begin(), bytes.end());
        }
        inLink_ = false;
    }

    void endNode(std::int32_t) { tile_->nodes.back().linksEnd = static_cast<std::uint32_t>(tile_->links.size()); }

    // The points of all links with way tags.
    std::size_t pointCount() const noexcept { return pointCount_; }

private:
    DecodedTile* tile_;
    const codec::TagValueCoder* wayTagCoder_;
    std::span<util::Byte> geometryBuffer_;
    std::vector<util::Byte>* geometryBytes_;
    std::vector<std::int64_t>* geometryOffsets_;
    util::ByteDataWriter geometryWriter_;
    std::size_t pointCount_ = 0;
    bool inLink_ = false;
};

} // namespace

DecodedTile DecodedTile::decode(codec::StatCoderContext& coder, codec::DataBuffers& buffers, std::int32_t lonIdx,
                                std::int32_t latIdx, std::int32_t tilesPerDegree, std::int32_t tileBytes) {
    DecodedTile tile;
    codec::TileBodyReader reader(coder, buffers, lonIdx, latIdx, tilesPerDegree, codec::TagValueCoder::KeepRaw{},
                                 tileBytes);
    const codec::TagValueCoder& wayTags = reader.wayTagCoder();
    tile.wayTagPairs.assign(wayTags.rawPairs().begin(), wayTags.rawPairs().end());
    tile.wayTagSets.assign(wayTags.rawLeaves().begin(), wayTags.rawLeaves().end());
    tile.lons.assign(reader.nodeLons().begin(), reader.nodeLons().end());
    tile.lats.assign(reader.nodeLats().begin(), reader.nodeLats().end());
    tile.nodes.reserve(tile.lons.size());
    auto linkData = std::make_shared<TileLinkData>();
    std::vector<std::int64_t> geometryOffsets;
    DecodedTileRecorder recorder(tile, wayTags, buffers.recordBuffer, linkData->geometryBytes, geometryOffsets);
    reader.readNodes(recorder);
    tile.restrictions.shrink_to_fit();
    tile.links.shrink_to_fit();
    // The bytes stand now: the links point into them.
    linkData->geometryBytes.shrink_to_fit();
    for (std::size_t i = 0; i < tile.links.size(); ++i) {
        if (geometryOffsets[i] < 0) continue;
        tile.links[i].geometry = LinkGeometry::ofLengthPrefixed(linkData->geometryBytes.data() + geometryOffsets[i]);
    }
    // Room for every point at once: measuring then copies none of them.
    linkData->shapePoints.reserve(recorder.pointCount());
    tile.measureShapes(linkData->shapePoints);
    if (!linkData->shapePoints.empty() || !linkData->geometryBytes.empty()) tile.linkData_ = std::move(linkData);
    tile.indexPositions();
    return tile;
}

void DecodedTile::indexPositions() {
    positions_.clear();
    positions_.reserve(lons.size());
    for (std::size_t n = 0; n < lons.size(); ++n) {
        positions_.emplace_back(OsmPos::idFromPos(lons[n], lats[n]), static_cast<std::int32_t>(n));
        if (n == 0) {
            minLon_ = maxLon_ = lons[n];
            minLat_ = maxLat_ = lats[n];
        }
        minLon_ = std::min(minLon_, lons[n]);
        maxLon_ = std::max(maxLon_, lons[n]);
        minLat_ = std::min(minLat_, lats[n]);
        maxLat_ = std::max(maxLat_, lats[n]);
    }
    std::sort(positions_.begin(), positions_.end());

    for (const Link& link : links) {
        if (link.target >= 0) continue;
        std::int32_t& out = nodes[static_cast<std::size_t>(link.node)].linkOutTagSet;
        out = out == NO_LINK_OUT || out == link.wayTagSet ? link.wayTagSet : SEVERAL_LINKS_OUT;
    }
}

std::span<const std::pair<std::int64_t, std::int32_t>> DecodedTile::nodesAt(std::int32_t ilon,
                                                                            std::int32_t ilat) const noexcept {
    const std::int64_t id = OsmPos::idFromPos(ilon, ilat);
    const auto first =
        std::lower_bound(positions_.begin(), positions_.end(), std::pair<std::int64_t, std::int32_t>{id, -1});
    // Nodes share a position rarely: the run is stepped over, not searched for its end.
    auto last = first;
    while (last != positions_.end() && last->first == id) ++last;
    return {first, last};
}

namespace {

// A section's length as the search measures it where no no-go area or
// waypoint lies: the ruler's metres, rounded, at least 1.
std::optional<std::int32_t> sectionLength(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2) {
    const double d = util::CheapRuler::distance(lon1, lat1, lon2, lat2);
    if (std::isnan(d)) return std::nullopt;
    return std::max(1, jcompat::toInt(std::floor(d + 0.5)));
}

bool sameBits(double a, double b) noexcept {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

} // namespace

void DecodedTile::measureShapes(std::vector<ShapePoint>& points) {
    struct Offsets {
        std::size_t points;
        std::size_t count;
        std::int32_t lastDistance;
    };
    std::vector<std::optional<Offsets>> offsets(links.size());
    std::vector<std::int32_t> chainLons;
    std::vector<std::int32_t> chainLats;
    util::CheapAngleMeter angles;
    for (std::size_t i = 0; i < links.size(); ++i) {
        const Link& link = links[i];
        if (link.reverse) continue;
        // The whole chain: the first node, the points as the geometry decoder
        // gives them, the second node.
        chainLons.assign(1, lons[static_cast<std::size_t>(link.node)]);
        chainLats.assign(1, lats[static_cast<std::size_t>(link.node)]);
        const std::size_t before = points.size();
        auto elevation = static_cast<std::uint16_t>(nodes[static_cast<std::size_t>(link.node)].elevation);
        util::ByteDataReader reader(link.geometry.span());
        while (reader.hasMoreData()) {
            chainLons.push_back(jcompat::wrapAdd(chainLons.back(), reader.readSignedVarLength()));
            chainLats.push_back(jcompat::wrapAdd(chainLats.back(), reader.readSignedVarLength()));
            elevation =
                static_cast<std::uint16_t>(elevation + static_cast<std::uint16_t>(reader.readSignedVarLength()));
            points.push_back(
                ShapePoint{0.0, 0.0, chainLons.back(), chainLats.back(), 0, static_cast<std::int16_t>(elevation)});
        }
        chainLons.push_back(link.targetLon);
        chainLats.push_back(link.targetLat);
        const std::size_t count = points.size() - before;
        std::optional<std::int32_t> lastDistance;
        try {
            bool complete = true;
            for (std::size_t k = 0; k <= count && complete; ++k) {
                const std::optional<std::int32_t> length =
                    sectionLength(chainLons[k], chainLats[k], chainLons[k + 1], chainLats[k + 1]);
                complete = length.has_value();
                if (!complete) break;
                if (k < count) {
                    points[before + k].distance = *length;
                } else {
                    lastDistance = length;
                }
            }
            for (std::size_t j = 1; j <= count && lastDistance; ++j) {
                ShapePoint& point = points[before + j - 1];
                point.forwardAngle = angles.calcAngle(chainLons[j - 1], chainLats[j - 1], chainLons[j], chainLats[j],
                                                      chainLons[j + 1], chainLats[j + 1]);
                point.cosine = angles.getCosAngle();
                const double backward = angles.calcAngle(chainLons[j + 1], chainLats[j + 1], chainLons[j], chainLats[j],
                                                         chainLons[j - 1], chainLats[j - 1]);
                if (!sameBits(backward, point.angle(true)) || !sameBits(angles.getCosAngle(), point.cosine)) {
                    lastDistance.reset(); // not the mirror image: the search measures this link itself
                }
            }
        } catch (const jcompat::Throwable&) {
            lastDistance.reset(); // positions beyond the distance scales: the search measures them itself
        }
        if (!lastDistance) {
            points.resize(before);
            continue;
        }
        offsets[i] = Offsets{before, count, *lastDistance};
    }
    // The points stand now: the shapes point into them.
    points.shrink_to_fit();
    const ShapePoint* first = points.data();
    shapes.assign(links.size(), LinkShape{});
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (!offsets[i]) continue;
        shapes[i] = LinkShape{first + offsets[i]->points, static_cast<std::int32_t>(offsets[i]->count),
                              offsets[i]->lastDistance};
    }
}

std::size_t DecodedTile::byteSize() const noexcept {
    std::size_t bytes =
        sizeof(DecodedTile) + (lons.capacity() + lats.capacity()) * sizeof(std::int32_t) +
        nodes.capacity() * sizeof(Node) + restrictions.capacity() * sizeof(Restriction) +
        links.capacity() * sizeof(Link) + wayTagSets.capacity() * sizeof(WayTagSet) +
        wayTagPairs.capacity() * sizeof(std::int32_t) + shapes.capacity() * sizeof(LinkShape) +
        positions_.capacity() * sizeof(positions_[0]) +
        (linkData_ != nullptr ? sizeof(TileLinkData) + linkData_->shapePoints.capacity() * sizeof(ShapePoint) +
                                    linkData_->geometryBytes.capacity()
                              : 0);
    const std::size_t memoWords = (links.size() + 63) / 64 + (wayTagSets.size() + 63) / 64;
    return bytes + MAX_CUT_MEMOS * (sizeof(CutMemo) + memoWords * sizeof(std::uint64_t)) +
           MAX_FILTER_MEMOS * (sizeof(filterMemos_[0]) + wayTagSets.size() * sizeof(expressions::FilteredTagSet));
}

const std::vector<expressions::FilteredTagSet>* DecodedTile::findFilterMemo(std::uint64_t identity) const noexcept {
    for (const auto& [kept, filtered] : filterMemos_) {
        if (kept == identity) return &filtered;
    }
    return nullptr;
}

void DecodedTile::keepFilterMemo(std::uint64_t identity, std::vector<expressions::FilteredTagSet> filtered) const {
    if (filterMemos_.size() < MAX_FILTER_MEMOS) filterMemos_.emplace_back(identity, std::move(filtered));
}

const DecodedTile::CutMemo* DecodedTile::findCutMemo(std::span<const std::uint64_t> wovenTagSets,
                                                     std::int32_t cleanupMode) const noexcept {
    for (const CutMemo& memo : cutMemos_) {
        if (memo.cleanupMode == cleanupMode &&
            std::equal(memo.wovenTagSets.begin(), memo.wovenTagSets.end(), wovenTagSets.begin(), wovenTagSets.end())) {
            return &memo;
        }
    }
    return nullptr;
}

void DecodedTile::keepCutMemo(CutMemo memo) const {
    if (hasRoomForCutMemo()) cutMemos_.push_back(std::move(memo));
}

} // namespace ferrow::mapaccess
