#include "mapaccess/OsmFile.h"

#include "codec/MicroCache2.h"
#include "codec/StatCoderContext.h"
#include "expressions/TagValueValidator.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/DecodedTileCache.h"
#include "mapaccess/DirectWeaver.h"
#include "mapaccess/PhysicalFile.h"
#include "util/ByteDataReader.h"
#include "util/Crc32.h"

namespace ferrow::mapaccess {

namespace {

// Fails when the footer is not the tile's checksum as this format writes it.
void checkFooter(std::span<const util::Byte> tile) {
    const auto size = static_cast<std::int32_t>(tile.size());
    const std::int32_t crc = util::Crc32::crc(tile, 0, size - 4);
    util::ByteDataReader footerReader(tile, size - 4);
    const std::int32_t footer = footerReader.readInt();
    if (footer != (crc ^ 2)) {
        throw jcompat::IOException(footer == crc ? "old, unsupported data-format" : "checkum error");
    }
}

// Decodes the tile (a coder that sees exactly its bytes: reading past it must
// not reach into stale bytes of an earlier tile that the shared buffer still
// holds); the footer is checked, also after a failure, unless decoding ended
// right at it.
template <typename Decode>
auto decodeChecked(std::span<const util::Byte> tile, Decode decode) {
    codec::StatCoderContext coder(tile);
    const auto checkUnlessConsumed = [&] {
        if ((coder.getReadingBitPosition() + 7) / 8 != static_cast<std::int64_t>(tile.size()) - 4) checkFooter(tile);
    };
    decltype(decode(coder)) decoded;
    try {
        decoded = decode(coder);
    } catch (...) {
        checkUnlessConsumed();
        throw;
    }
    checkUnlessConsumed();
    return decoded;
}

} // namespace

OsmFile::OsmFile(PhysicalFile* physicalFile, std::int32_t lonDegree, std::int32_t latDegree,
                 codec::DataBuffers& buffers)
    : lonDegree_(lonDegree), latDegree_(latDegree) {
    if (physicalFile == nullptr) {
        return;
    }
    tilesPerDegree_ = physicalFile->tilesPerDegree();
    elevationType_ = physicalFile->elevationType();
    fileName_ = physicalFile->fileName();
    cellSize_ = 1000000 / tilesPerDegree_;
    const std::int32_t tileCount = tilesPerDegree_ * tilesPerDegree_;
    indexSize_ = 4 * tileCount;
    const std::int32_t square = (lonDegree % 5) * 5 + latDegree % 5;
    subSquareStart_ = physicalFile->subSquareStart(square);
    const std::int64_t end = physicalFile->subSquareEnd(square);
    if (subSquareStart_ == end) {
        return;
    }
    // The index must lie between the top index and the last sub-square's end
    // (which opening checked against the file's length).
    if (subSquareStart_ < PhysicalFile::TOP_INDEX_BYTES || end < subSquareStart_ + indexSize_ ||
        end > physicalFile->subSquareEnd(PhysicalFile::SUB_SQUARES - 1)) {
        throw jcompat::IOException("sub-square " + std::to_string(square) + " of " + fileName_ +
                                   " lies outside the file: " + std::to_string(subSquareStart_) + " to " +
                                   std::to_string(end));
    }
    subSquareLength_ = end - subSquareStart_;

    tileEnds_ = &physicalFile->tileIndex(square, tileCount, buffers);
    microCaches_.resize(static_cast<std::size_t>(tileCount));
    physicalFile_ = physicalFile;
}

std::int32_t OsmFile::tileIndex(std::int32_t lonIdx, std::int32_t latIdx) const {
    const std::int64_t column =
        static_cast<std::int64_t>(lonIdx) - static_cast<std::int64_t>(tilesPerDegree_) * lonDegree_;
    const std::int64_t row =
        static_cast<std::int64_t>(latIdx) - static_cast<std::int64_t>(tilesPerDegree_) * latDegree_;
    if (column < 0 || column >= tilesPerDegree_ || row < 0 || row >= tilesPerDegree_) {
        throw jcompat::IllegalArgumentException("tile " + std::to_string(lonIdx) + "/" + std::to_string(latIdx) +
                                                " outside the square " + std::to_string(lonDegree_) + "/" +
                                                std::to_string(latDegree_));
    }
    return static_cast<std::int32_t>(column + row * tilesPerDegree_);
}

OsmFile::TileExtent OsmFile::tileExtent(std::int32_t k) const {
    const std::int32_t start = k == 0 ? indexSize_ : tileEnds_->at(static_cast<std::size_t>(k) - 1);
    const std::int32_t end = tileEnds_->at(static_cast<std::size_t>(k));
    const std::int64_t size = static_cast<std::int64_t>(end) - start;
    if (size == 0) {
        return {subSquareStart_ + start, 0};
    }
    // A tile lies inside its sub-square, after the index, and holds at least
    // its 4-byte footer.
    if (start < indexSize_ || end > subSquareLength_ || size < 4 || size > MAX_TILE_SIZE) {
        throw jcompat::IOException("tile index of " + fileName_ + " out of range: tile " + std::to_string(k) +
                                   " from " + std::to_string(start) + " to " + std::to_string(end));
    }
    return {subSquareStart_ + start, static_cast<std::int32_t>(size)};
}

std::int32_t OsmFile::getDataInputForSubIdx(std::int32_t k, std::span<util::Byte> buffer) {
    if (physicalFile_ == nullptr) {
        return 0;
    }
    const TileExtent extent = tileExtent(k);
    if (extent.size == 0) {
        return 0;
    }
    jcompat::RandomAccessFile& file = physicalFile_->randomAccessFile();
    file.seek(extent.offset);
    if (static_cast<std::size_t>(extent.size) <= buffer.size()) {
        file.readFully(buffer.first(static_cast<std::size_t>(extent.size)));
    }
    return extent.size;
}

std::optional<DecodedTileCache::Source> OsmFile::settledSource(std::int32_t k) const {
    if (physicalFile_ == nullptr || !physicalFile_->settledVersion()) return std::nullopt;
    const TileExtent extent = tileExtent(k);
    return DecodedTileCache::Source{*physicalFile_->settledVersion(), extent.offset, extent.size};
}

std::span<const util::Byte> OsmFile::readTile(std::int32_t k, codec::DataBuffers& buffers,
                                              std::vector<util::Byte>& own) {
    const auto size = static_cast<std::size_t>(getDataInputForSubIdx(k, buffers.inputBuffer));
    if (size <= buffers.inputBuffer.size()) return std::span<const util::Byte>(buffers.inputBuffer).first(size);
    own.resize(size);
    physicalFile_->randomAccessFile().readFully(own);
    return own;
}

std::shared_ptr<codec::MicroCache> OsmFile::createMicroCache(std::int32_t lonIdx, std::int32_t latIdx,
                                                             codec::DataBuffers& buffers,
                                                             expressions::TagValueValidator* wayValidator,
                                                             codec::WaypointMatcher* waypointMatcher,
                                                             bool /*reallyDecode*/, OsmNodesMap* hollowNodes) {
    const std::int32_t k = tileIndex(lonIdx, latIdx);
    const DecodedTileCache::Key key{lonIdx, latIdx, tilesPerDegree_};
    // A tile woven before from a file that has not changed since is woven
    // again without reading its bytes.
    const std::optional<DecodedTileCache::Source> source =
        hollowNodes != nullptr && wayValidator != nullptr ? settledSource(k) : std::nullopt;
    std::shared_ptr<const DecodedTile> decoded =
        source && source->size > 0 ? DecodedTileCache::instance().find(key, *source) : nullptr;

    std::vector<util::Byte> own;
    std::span<const util::Byte> tile;
    if (decoded == nullptr) {
        tile = readTile(k, buffers, own);
        if (tile.empty()) {
            return codec::MicroCache::emptyCache();
        }
        const auto size = static_cast<std::int32_t>(tile.size());
        if (hollowNodes == nullptr) {
            return decodeChecked(tile, [&](codec::StatCoderContext& coder) {
                return std::make_shared<codec::MicroCache2>(coder, buffers, lonIdx, latIdx, tilesPerDegree_,
                                                            wayValidator, waypointMatcher, size);
            });
        }
        if (wayValidator == nullptr) {
            throw jcompat::IllegalArgumentException("weaving a tile needs a tag validator");
        }
        const DecodedTileCache::Source* readFrom = source ? &*source : nullptr;
        decoded = DecodedTileCache::instance().find(key, tile, readFrom);
        if (decoded == nullptr) {
            decoded = decodeChecked(tile, [&](codec::StatCoderContext& coder) {
                return std::make_shared<const DecodedTile>(
                    DecodedTile::decode(coder, buffers, lonIdx, latIdx, tilesPerDegree_, size));
            });
            DecodedTileCache::instance().insert(key, tile, decoded, readFrom);
        }
    }
    std::span<const expressions::FilteredTagSet> wayTags;
    try {
        wayTags = DirectWeaver::filterWayTags(*decoded, *wayValidator, buffers.wayTagSets);
    } catch (...) {
        // Where the tag filter fails, decoding with the filter would have
        // stopped early: the footer then tells damaged data from a tag set
        // too long for the profile (a tile found by its place is read for it).
        if (tile.empty()) tile = readTile(k, buffers, own);
        checkFooter(tile);
        throw;
    }
    DirectWeaver(std::move(decoded), *hollowNodes, wayTags, *wayValidator, waypointMatcher);
    return codec::MicroCache::emptyNonPristineCache();
}

} // namespace ferrow::mapaccess
