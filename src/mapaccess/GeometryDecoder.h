#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "mapaccess/LinkGeometry.h"
#include "mapaccess/OsmTransferNode.h"
#include "util/ByteDataReader.h"

namespace ferrow::mapaccess {

class OsmNode;

// Expands a link's geometry bytes into its intermediate points. One decoder
// serves a whole request; the points come from a pool, so a list stays valid
// only until the next decode.
class GeometryDecoder {
public:
    static constexpr std::size_t POOL_SIZE = 128;

    GeometryDecoder() = default;
    GeometryDecoder(const GeometryDecoder&) = delete;
    GeometryDecoder& operator=(const GeometryDecoder&) = delete;

    // The points from sourceNode towards targetNode, or null when there are
    // none. With reverse set the link is travelled from its second node (the
    // source) to its first (the target), where the coded points start.
    // Decoding the same array in the same direction again returns the same list.
    const OsmTransferNode* decodeGeometry(LinkGeometry geometry, const OsmNode* sourceNode, const OsmNode* targetNode,
                                          bool reverse);

private:
    OsmTransferNode* nextPoint(std::size_t used);

    util::ByteDataReader reader_;
    std::array<OsmTransferNode, POOL_SIZE> pool_{};
    std::deque<OsmTransferNode> overflow_;
    OsmTransferNode* head_ = nullptr;
    LinkGeometry lastGeometry_;
    // The storage generation when lastGeometry_ was decoded: the identity
    // test cannot match bytes that were given back and replaced since.
    std::uint64_t lastGeneration_ = 0;
    bool lastReverse_ = false;
};

} // namespace ferrow::mapaccess
