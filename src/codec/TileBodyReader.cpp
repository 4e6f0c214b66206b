#include "codec/TileBodyReader.h"

#include <algorithm>

namespace ferrow::codec {

TileBodyReader::TileBodyReader(StatCoderContext& coder, DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                               std::int32_t tilesPerDegree, expressions::TagValueValidator* wayValidator,
                               WaypointMatcher* waypointMatcher, bool keepRaw, std::int32_t tileBytes)
    : coder_(&coder),
      wayValidator_(wayValidator),
      matcher_(waypointMatcher),
      streamBits_(8 * static_cast<std::int64_t>(tileBytes)),
      originLon_(lonIdx * (1000000 / tilesPerDegree)),
      originLat_(latIdx * (1000000 / tilesPerDegree)),
      wayTags_(keepRaw ? TagValueCoder(coder, buffers, TagValueCoder::KeepRaw{})
                       : TagValueCoder(coder, buffers, wayValidator)),
      nodeTags_(coder, buffers, nullptr),
      nodeIndexSteps_(coder),
      nodeElevationSteps_(coder),
      externalLonSteps_(coder),
      externalLatSteps_(coder),
      pointElevationSteps_(coder) {
    readHeader(buffers, tileBytes);
}

void TileBodyReader::readHeader(DataBuffers& buffers, std::int32_t tileBytes) {
    StatCoderContext& coder = *coder_;
    nodeCount_ = coder.decodeNoisyValue(5);
    if (nodeCount_ < 0 || nodeCount_ > MAX_NODES || nodeCount_ > 2 * static_cast<std::int64_t>(tileBytes)) {
        throwCorruptTile("node count " + std::to_string(nodeCount_) + " beyond what " + std::to_string(tileBytes) +
                         " bytes can hold");
    }
    ids_ = intBufferFor(buffers.nodeIdBuffer, ownIds_, nodeCount_);
    coder.decodeSortedArray(ids_, 0, nodeCount_, 29, 0);
    lons_ = intBufferFor(buffers.lonBuffer, ownLons_, nodeCount_);
    lats_ = intBufferFor(buffers.latBuffer, ownLats_, nodeCount_);
    for (std::size_t i = 0; i < ids_.size(); ++i) {
        const std::int64_t offsets = tile_local_id::expand(ids_[i]);
        lons_[i] = originLon_ + static_cast<std::int32_t>(offsets >> 32);
        lats_[i] = originLat_ + static_cast<std::int32_t>(offsets & 0xFFFFFFFF);
    }
    recordSize_ = coder.decodeNoisyValue(10);
    const std::int64_t recordLimit =
        std::max<std::int64_t>(DataBuffers::RECORD_BUFFER_SIZE, RECORD_BYTES_PER_TILE_BYTE * std::int64_t{tileBytes});
    if (recordSize_ < 0 || recordSize_ > MAX_RECORD_SIZE || recordSize_ > recordLimit) {
        throwCorruptTile("record size " + std::to_string(recordSize_) + " out of range");
    }
}

void TileBodyReader::skipBits(std::int32_t bits) {
    // Checked against the stream first: past its end the refill would supply
    // zero bits without limit, and a damaged length could keep the loop busy.
    if (bits < 0 || coder_->getReadingBitPosition() + bits > streamBits_) {
        throwCorruptTile("feature of " + std::to_string(bits) + " bits beyond the tile's end");
    }
    while (bits > 0) {
        const std::int32_t chunk = std::min(bits, 24);
        coder_->decodeFixedBits(chunk);
        bits -= chunk;
    }
}

void TileBodyReader::throwTargetOutsideTile(std::int32_t node, std::int32_t step) const {
    throwCorruptTile("link of node " + std::to_string(node) + " to node " +
                     std::to_string(static_cast<std::int64_t>(node) + step) + " outside the tile's " +
                     std::to_string(nodeCount_) + " nodes");
}

} // namespace ferrow::codec
