#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/MicroCache.h"
#include "codec/WaypointMatcher.h"
#include "mapaccess/DecodedTileCache.h"

namespace ferrow::expressions {
class TagValueValidator;
}

namespace ferrow::mapaccess {

class OsmNodesMap;
class PhysicalFile;

// One 1 x 1 degree sub-square of a segment file: its checked tile index, and
// a slot per tile that the node cache fills with decoded tiles. Without a
// file (none exists there) or for an empty sub-square it holds no data.
class OsmFile {
public:
    // The largest tile that is read: far above real tiles, it keeps a damaged
    // index from asking for an allocation of the size of the file.
    static constexpr std::int32_t MAX_TILE_SIZE = 1 << 24;

    // Reads and checks the tile index of the sub-square (lonDegree, latDegree)
    // of physicalFile, which must outlive this object; null for a missing file.
    OsmFile(PhysicalFile* physicalFile, std::int32_t lonDegree, std::int32_t latDegree, codec::DataBuffers& buffers);
    OsmFile(const OsmFile&) = delete;
    OsmFile& operator=(const OsmFile&) = delete;

    bool hasData() const noexcept { return physicalFile_ != nullptr; }
    // The segment file's name; empty when no file stands behind this square.
    const std::string& fileName() const noexcept { return fileName_; }
    std::int32_t lonDegree() const noexcept { return lonDegree_; }
    std::int32_t latDegree() const noexcept { return latDegree_; }
    std::int32_t tilesPerDegree() const noexcept { return tilesPerDegree_; }
    std::int32_t cellSize() const noexcept { return cellSize_; }
    std::int8_t elevationType() const noexcept { return elevationType_; }

    // The slot number of tile (lonIdx, latIdx), which must lie in this square
    // (IllegalArgumentException otherwise).
    std::int32_t tileIndex(std::int32_t lonIdx, std::int32_t latIdx) const;

    // The size of tile k (0 for an empty tile); when it is not 0 the file is
    // positioned at the tile and, when the tile fits, it is read into buffer.
    std::int32_t getDataInputForSubIdx(std::int32_t k, std::span<util::Byte> buffer);

    // Reads and decodes tile (lonIdx, latIdx). With hollowNodes the tile is
    // woven into that node map (through the process's decoded tiles, filtered
    // by wayValidator, which weaving needs) and the result is the shared
    // placeholder; otherwise the result is the decoded tile. An empty tile
    // gives a new empty tile. The tile's footer is checked after decoding.
    std::shared_ptr<codec::MicroCache> createMicroCache(std::int32_t lonIdx, std::int32_t latIdx,
                                                        codec::DataBuffers& buffers,
                                                        expressions::TagValueValidator* wayValidator,
                                                        codec::WaypointMatcher* waypointMatcher, bool reallyDecode,
                                                        OsmNodesMap* hollowNodes);

    // The decoded-tile slots, filled and emptied by the node cache.
    std::vector<std::shared_ptr<codec::MicroCache>>& microCaches() noexcept { return microCaches_; }

private:
    // Where tile k lies in the file and its size (0 for an empty tile);
    // IOException when the index puts it out of range.
    struct TileExtent {
        std::int64_t offset;
        std::int32_t size;
    };
    TileExtent tileExtent(std::int32_t k) const;
    // Tile k's bytes: read into the input buffer, or into own when it is too
    // small; empty for an empty tile.
    std::span<const util::Byte> readTile(std::int32_t k, codec::DataBuffers& buffers, std::vector<util::Byte>& own);
    // Where tile k lies in a settled version of the file, or nothing.
    std::optional<DecodedTileCache::Source> settledSource(std::int32_t k) const;

    PhysicalFile* physicalFile_ = nullptr;
    std::string fileName_;
    std::int32_t lonDegree_;
    std::int32_t latDegree_;
    std::int32_t tilesPerDegree_ = 80;
    std::int32_t cellSize_ = 12500;
    std::int32_t indexSize_ = 0;
    std::int64_t subSquareStart_ = 0;
    std::int64_t subSquareLength_ = 0;
    // The tile index, read once by the file.
    const std::vector<std::int32_t>* tileEnds_ = nullptr;
    std::vector<std::shared_ptr<codec::MicroCache>> microCaches_;
    std::int8_t elevationType_ = 3;
};

} // namespace ferrow::mapaccess
