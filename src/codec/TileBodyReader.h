#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/CorruptTile.h"
#include "codec/DataBuffers.h"
#include "codec/NoisyDiffCoder.h"
#include "codec/StatCoderContext.h"
#include "codec/TagValueCoder.h"
#include "codec/TagValueWrapper.h"
#include "codec/TileLocalId.h"
#include "codec/WaypointMatcher.h"
#include "expressions/TagValueValidator.h"

namespace ferrow::codec {

// Reads a tile body field by field, for both decoders of the format: the
// decoded tile (MicroCache2) and the weaver that builds the graph directly.
// The constructor reads the header (tag trees, noise widths, node count and
// identifiers, record size); readNodes then walks the nodes and hands every
// item to a sink, feeding the waypoint matcher on the way.
//
// A sink provides:
//   static constexpr bool EMPTY_NODE_FEATURE: whether a first feature id of 13
//       marks an empty node that has nothing more in the stream;
//   void emptyNode(n);
//   void restriction(n, exceptions, positive, fromLon, fromLat, toLon, toLat);
//   void nodeData(n, elevation, nodeTags or null);
//   bool beginLink(n, targetIndex or -1 for an external link, targetLon, targetLat,
//                  reverse, wayTags or null): whether it wants the link's points;
//   void geometryPoint(dlon, dlat, elevationStep);
//   void endLink();
//   void endNode(n).
class TileBodyReader {
public:
    // Bounds beyond which a tile is refused as corrupt before anything is
    // allocated for it. Every node takes at least four bits of the stream
    // (feature id, elevation step and link count), which bounds the node count
    // by the tile's size. Node records take a few bytes per byte of the tile
    // (real tiles stay below 8); the record size may claim at most 64 per
    // byte, or the size of the shared record buffer, which costs nothing. The
    // absolute limits are far above any real tile.
    static constexpr std::int32_t MAX_NODES = 1 << 20;
    static constexpr std::int32_t MAX_RECORD_SIZE = 1 << 25;
    static constexpr std::int32_t RECORD_BYTES_PER_TILE_BYTE = 64;

    // The stream holds tileBytes bytes (the body and its footer).
    TileBodyReader(StatCoderContext& coder, DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                   std::int32_t tilesPerDegree, expressions::TagValueValidator* wayValidator,
                   WaypointMatcher* waypointMatcher, std::int32_t tileBytes)
        : TileBodyReader(coder, buffers, lonIdx, latIdx, tilesPerDegree, wayValidator, waypointMatcher, false,
                         tileBytes) {}
    // Keeps the way tag sets raw, for any profile to filter later; feeds no matcher.
    TileBodyReader(StatCoderContext& coder, DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                   std::int32_t tilesPerDegree, TagValueCoder::KeepRaw, std::int32_t tileBytes)
        : TileBodyReader(coder, buffers, lonIdx, latIdx, tilesPerDegree, nullptr, nullptr, true, tileBytes) {}
    TileBodyReader(const TileBodyReader&) = delete;
    TileBodyReader& operator=(const TileBodyReader&) = delete;

    std::int32_t nodeCount() const noexcept { return nodeCount_; }
    std::span<const std::int32_t> nodeIds() const noexcept { return ids_; }
    std::span<const std::int32_t> nodeLons() const noexcept { return lons_; }
    std::span<const std::int32_t> nodeLats() const noexcept { return lats_; }
    // Bytes the record array of the decoded tile must offer.
    std::int32_t recordSize() const noexcept { return recordSize_; }
    std::int32_t originLon() const noexcept { return originLon_; }
    std::int32_t originLat() const noexcept { return originLat_; }
    expressions::TagValueValidator* wayValidator() const noexcept { return wayValidator_; }
    const TagValueCoder& wayTagCoder() const noexcept { return wayTags_; }

    template <typename Sink>
    void readNodes(Sink& sink);

private:
    TileBodyReader(StatCoderContext& coder, DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                   std::int32_t tilesPerDegree, expressions::TagValueValidator* wayValidator,
                   WaypointMatcher* waypointMatcher, bool keepRaw, std::int32_t tileBytes);

    static std::int32_t wrapAdd(std::int32_t a, std::int32_t b) noexcept {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    }
    static std::int32_t wrapSub(std::int32_t a, std::int32_t b) noexcept {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
    }

    // The fields after the tag trees and noise widths: node count and
    // identifiers, record size.
    void readHeader(DataBuffers& buffers, std::int32_t tileBytes);
    void skipBits(std::int32_t bits);
    [[noreturn]] void throwTargetOutsideTile(std::int32_t node, std::int32_t step) const;

    template <typename Sink>
    void readLink(Sink& sink, std::int32_t n, std::int32_t ilon, std::int32_t ilat);

    StatCoderContext* coder_;
    expressions::TagValueValidator* wayValidator_;
    WaypointMatcher* matcher_;
    std::int64_t streamBits_;
    std::int32_t originLon_;
    std::int32_t originLat_;
    TagValueCoder wayTags_;
    TagValueCoder nodeTags_;
    NoisyDiffCoder nodeIndexSteps_;
    NoisyDiffCoder nodeElevationSteps_;
    NoisyDiffCoder externalLonSteps_;
    NoisyDiffCoder externalLatSteps_;
    NoisyDiffCoder pointElevationSteps_;
    std::int32_t nodeCount_ = 0;
    std::span<std::int32_t> ids_;
    std::span<std::int32_t> lons_;
    std::span<std::int32_t> lats_;
    std::int32_t recordSize_ = 0;
    std::vector<std::int32_t> ownIds_;
    std::vector<std::int32_t> ownLons_;
    std::vector<std::int32_t> ownLats_;
};

template <typename Sink>
void TileBodyReader::readNodes(Sink& sink) {
    StatCoderContext& coder = *coder_;
    std::int32_t elevation = 0;
    for (std::int32_t n = 0; n < nodeCount_; ++n) {
        const std::int32_t ilon = lons_[static_cast<std::size_t>(n)];
        const std::int32_t ilat = lats_[static_cast<std::size_t>(n)];

        std::int32_t feature = coder.decodeVarBits();
        if (Sink::EMPTY_NODE_FEATURE && feature == 13) {
            sink.emptyNode(n);
            continue;
        }
        std::int32_t exceptions = 0;
        while (feature != 0) {
            const std::int32_t bitLength = coder.decodeNoisyValue(5);
            if (feature == 2) {
                exceptions = coder.decodeBounded(1023);
            } else if (feature == 1) {
                const bool positive = coder.decodeSingleBit();
                const std::int32_t fromLon = wrapAdd(ilon, coder.decodeNoisyDiff(10));
                const std::int32_t fromLat = wrapAdd(ilat, coder.decodeNoisyDiff(10));
                const std::int32_t toLon = wrapAdd(ilon, coder.decodeNoisyDiff(10));
                const std::int32_t toLat = wrapAdd(ilat, coder.decodeNoisyDiff(10));
                sink.restriction(n, static_cast<std::int16_t>(exceptions), positive, fromLon, fromLat, toLon, toLat);
                exceptions = 0;
            } else {
                skipBits(bitLength);
            }
            feature = coder.decodeVarBits();
        }

        elevation = wrapAdd(elevation, nodeElevationSteps_.decodeNext());
        sink.nodeData(n, static_cast<std::int16_t>(elevation), nodeTags_.decodeTagValueSet());

        const std::int32_t linkCount = coder.decodeNoisyValue(1);
        for (std::int32_t link = 0; link < linkCount; ++link) {
            readLink(sink, n, ilon, ilat);
        }
        sink.endNode(n);
    }
}

template <typename Sink>
void TileBodyReader::readLink(Sink& sink, std::int32_t n, std::int32_t ilon, std::int32_t ilat) {
    StatCoderContext& coder = *coder_;
    const std::int32_t step = nodeIndexSteps_.decodeNext();
    std::int32_t target = -1;
    bool reverse = false;
    std::int32_t targetLon;
    std::int32_t targetLat;
    if (step != 0) {
        const std::int64_t index = static_cast<std::int64_t>(n) + step;
        if (index < 0 || index >= nodeCount_) {
            throwTargetOutsideTile(n, step);
        }
        target = static_cast<std::int32_t>(index);
        targetLon = lons_[static_cast<std::size_t>(target)];
        targetLat = lats_[static_cast<std::size_t>(target)];
    } else {
        reverse = coder.decodeSingleBit();
        targetLon = wrapAdd(ilon, externalLonSteps_.decodeNext());
        targetLat = wrapAdd(ilat, externalLatSteps_.decodeNext());
    }
    const TagValueWrapper* wayTags = wayTags_.decodeTagValueSet();
    const bool wantsPoints = sink.beginLink(n, target, targetLon, targetLat, reverse, wayTags);

    if (!reverse) {
        bool matching = false;
        if (matcher_ != nullptr && wayTags != nullptr && wayTags->accessType > 1) {
            const bool isStartWay = wayValidator_ == nullptr || wayValidator_->checkStartWay(wayTags->data);
            matching = matcher_->start(ilon, ilat, targetLon, targetLat, isStartWay);
        }
        const std::int32_t points = coder.decodeVarBits();
        std::int32_t remainingLon = wrapSub(targetLon, ilon);
        std::int32_t remainingLat = wrapSub(targetLat, ilat);
        for (std::int32_t i = 0; i < points; ++i) {
            const std::int64_t sections = static_cast<std::int64_t>(points) + 1 - i;
            const std::int32_t dlon = coder.decodeAroundPrediction(static_cast<std::int32_t>(remainingLon / sections));
            const std::int32_t dlat = coder.decodeAroundPrediction(static_cast<std::int32_t>(remainingLat / sections));
            const std::int32_t elevationStep = pointElevationSteps_.decodeNext();
            remainingLon = wrapSub(remainingLon, dlon);
            remainingLat = wrapSub(remainingLat, dlat);
            if (wantsPoints) {
                sink.geometryPoint(dlon, dlat, elevationStep);
            }
            if (matching) {
                matcher_->transferNode(wrapSub(targetLon, remainingLon), wrapSub(targetLat, remainingLat));
            }
        }
        if (matching) {
            matcher_->end();
        }
    }
    sink.endLink();
}

} // namespace ferrow::codec
