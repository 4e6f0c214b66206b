#include "codec/MicroCache2.h"

#include <algorithm>
#include <vector>

#include "codec/LinkedListContainer.h"
#include "codec/TileBodyReader.h"
#include "codec/TileLocalId.h"

namespace ferrow::codec {

namespace {

std::int32_t signedVarLengthSize(std::int32_t v) noexcept {
    const auto u = static_cast<std::uint32_t>(v);
    return util::ByteDataWriter::varLengthSize(v < 0 ? ((0U - u) << 1) | 1U : u << 1);
}

} // namespace

// Writes each node's record while the body is read, remembering which nodes
// are kept and which internal links need a reverse record at their target.
class MicroCache2::RecordSink {
public:
    static constexpr bool EMPTY_NODE_FEATURE = true;

    RecordSink(const TileBodyReader& reader, DataBuffers& buffers)
        : lons_(reader.nodeLons()),
          lats_(reader.nodeLats()),
          hasValidator_(reader.wayValidator() != nullptr),
          recordEnds_(intBufferFor(buffers.recordEndBuffer, ownRecordEnds_, reader.nodeCount())),
          kept_(buffers.keptNodes),
          reverseLinks_(reader.nodeCount(), buffers.linkListBuffer, buffers.linkListHeads) {
        std::span<util::Byte> recordArray(buffers.recordBuffer);
        if (reader.recordSize() > static_cast<std::int32_t>(recordArray.size())) {
            ownRecords_.resize(static_cast<std::size_t>(reader.recordSize()));
            recordArray = ownRecords_;
        }
        recordBytes_ = recordArray.data();
        writer_.reset(recordArray);
        kept_.assign((static_cast<std::size_t>(reader.nodeCount()) + 31) / 32, 0);
    }

    void emptyNode(std::int32_t n) {
        keep(n);
        endNode(n);
    }

    void restriction(std::int32_t, std::int16_t exceptions, bool positive, std::int32_t fromLon, std::int32_t fromLat,
                     std::int32_t toLon, std::int32_t toLat) {
        writer_.writeBoolean(true);
        writer_.writeShort(exceptions);
        writer_.writeBoolean(positive);
        writer_.writeInt(fromLon);
        writer_.writeInt(fromLat);
        writer_.writeInt(toLon);
        writer_.writeInt(toLat);
    }

    void nodeData(std::int32_t, std::int16_t elevation, const TagValueWrapper* nodeTags) {
        writer_.writeBoolean(false);
        writer_.writeShort(elevation);
        writer_.writeVarBytes(nodeTags != nullptr ? nodeTags->data.span() : std::span<const util::Byte>());
    }

    bool beginLink(std::int32_t n, std::int32_t target, std::int32_t targetLon, std::int32_t targetLat, bool reverse,
                   const TagValueWrapper* wayTags) {
        linkOpen_ = wayTags != nullptr || !hasValidator_;
        if (!linkOpen_) {
            return false;
        }
        keep(n);
        const std::int32_t dlon = difference(targetLon, lons_[static_cast<std::size_t>(n)]);
        const std::int32_t dlat = difference(targetLat, lats_[static_cast<std::size_t>(n)]);
        sizePosition_ = writer_.reserveSizeByte();
        writer_.writeSignedVarLength(dlon);
        writer_.writeSignedVarLength(dlat);
        writer_.writeModeAndTags(reverse, wayTags != nullptr ? wayTags->data.span() : std::span<const util::Byte>());
        if (target >= 0) {
            keep(target);
            reverseLinks_.addDataElement(target, n);
            reverseBytes_ += 2 + signedVarLengthSize(dlon) + signedVarLengthSize(dlat);
        }
        return wayTags != nullptr;
    }

    void geometryPoint(std::int32_t dlon, std::int32_t dlat, std::int32_t elevationStep) {
        writer_.writeSignedVarLength(dlon);
        writer_.writeSignedVarLength(dlat);
        writer_.writeSignedVarLength(elevationStep);
    }

    void endLink() {
        if (linkOpen_) {
            writer_.patchSize(sizePosition_);
        }
    }

    void endNode(std::int32_t n) { recordEnds_[static_cast<std::size_t>(n)] = writer_.getPosition(); }

    // Copies the kept nodes' records with their reverse link records into
    // exact-size arrays.
    void assemble(std::span<const std::int32_t> ids, MicroCache2& tile) {
        std::int32_t keptCount = 0;
        std::int64_t bytes = reverseBytes_;
        for (std::size_t n = 0; n < ids.size(); ++n) {
            if (isKept(n)) {
                ++keptCount;
                bytes += recordEnds_[n] - recordStart(n);
            }
        }
        std::vector<util::Byte> records(static_cast<std::size_t>(bytes));
        std::vector<std::int32_t> keptIds;
        std::vector<std::int32_t> keptEnds;
        keptIds.reserve(static_cast<std::size_t>(keptCount));
        keptEnds.reserve(static_cast<std::size_t>(keptCount));
        util::ByteDataWriter out;
        std::int32_t position = 0;
        for (std::size_t n = 0; n < ids.size(); ++n) {
            if (!isKept(n)) {
                continue;
            }
            const std::int32_t start = recordStart(n);
            const std::int32_t length = recordEnds_[n] - start;
            std::copy_n(recordBytes_ + start, length, records.begin() + position);
            out.reset(records, position + length);
            const std::int32_t reverseCount = reverseLinks_.initList(static_cast<std::int32_t>(n));
            for (std::int32_t i = 0; i < reverseCount; ++i) {
                const auto other = static_cast<std::size_t>(reverseLinks_.getDataElement());
                const std::int32_t sizePosition = out.reserveSizeByte();
                out.writeSignedVarLength(difference(lons_[other], lons_[n]));
                out.writeSignedVarLength(difference(lats_[other], lats_[n]));
                out.writeModeAndTags(true, std::span<const util::Byte>());
                out.patchSize(sizePosition);
            }
            position = out.getPosition();
            keptIds.push_back(ids[n]);
            keptEnds.push_back(position);
        }
        tile.init(std::move(records), std::move(keptIds), std::move(keptEnds));
    }

private:
    static std::int32_t difference(std::int32_t a, std::int32_t b) noexcept {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
    }
    void keep(std::int32_t n) noexcept { kept_[static_cast<std::size_t>(n) >> 5] |= 1U << (n & 31); }
    bool isKept(std::size_t n) const noexcept { return (kept_[n >> 5] & (1U << (n & 31))) != 0; }
    std::int32_t recordStart(std::size_t n) const noexcept { return n == 0 ? 0 : recordEnds_[n - 1]; }

    std::span<const std::int32_t> lons_;
    std::span<const std::int32_t> lats_;
    bool hasValidator_;
    std::vector<std::int32_t> ownRecordEnds_;
    std::span<std::int32_t> recordEnds_;
    std::vector<std::uint32_t>& kept_;
    LinkedListContainer reverseLinks_;
    std::vector<util::Byte> ownRecords_;
    util::Byte* recordBytes_ = nullptr;
    util::ByteDataWriter writer_;
    std::int64_t reverseBytes_ = 0;
    std::int32_t sizePosition_ = 0;
    bool linkOpen_ = false;
};

MicroCache2::MicroCache2(StatCoderContext& coder, DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                         std::int32_t tilesPerDegree, expressions::TagValueValidator* wayValidator,
                         WaypointMatcher* waypointMatcher, std::int32_t tileBytes)
    : cellSize_(1000000 / tilesPerDegree) {
    originLon_ = lonIdx * cellSize_;
    originLat_ = latIdx * cellSize_;
    TileBodyReader reader(coder, buffers, lonIdx, latIdx, tilesPerDegree, wayValidator, waypointMatcher, tileBytes);
    RecordSink sink(reader, buffers);
    reader.readNodes(sink);
    sink.assemble(reader.nodeIds(), *this);
}

std::int64_t MicroCache2::expandId(std::int32_t id32) const {
    const std::int64_t offsets = tile_local_id::expand(id32);
    const auto ilon = static_cast<std::uint32_t>(originLon_ + static_cast<std::int32_t>(offsets >> 32));
    const auto ilat = static_cast<std::uint32_t>(originLat_ + static_cast<std::int32_t>(offsets & 0xFFFFFFFF));
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ilon) << 32) | ilat);
}

std::int32_t MicroCache2::shrinkId(std::int64_t id64) const {
    const auto ilon = static_cast<std::int32_t>(id64 >> 32);
    const auto ilat = static_cast<std::int32_t>(id64 & 0xFFFFFFFF);
    return tile_local_id::shrink(ilon - originLon_, ilat - originLat_);
}

} // namespace ferrow::codec
