#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "expressions/TagValueValidator.h"
#include "util/BitCoderContext.h"
#include "util/ByteArray.h"

namespace ferrow::codec {

// The reusable buffers of tile decoding, created once per node cache and
// handed on to the next one. A decoder uses a buffer when it is large enough
// and an array of its own otherwise.
class DataBuffers {
public:
    static constexpr std::int32_t DEFAULT_INPUT_SIZE = 65636;
    static constexpr std::int32_t TAG_BUFFER_SIZE = 256;
    static constexpr std::int32_t RECORD_BUFFER_SIZE = 65636;
    static constexpr std::int32_t LINK_LIST_BUFFER_SIZE = 4096;
    static constexpr std::int32_t NODE_BUFFER_SIZE = 2048;

    explicit DataBuffers(std::int32_t inputBufferSize = DEFAULT_INPUT_SIZE);
    DataBuffers(const DataBuffers&) = delete;
    DataBuffers& operator=(const DataBuffers&) = delete;

    // Index and tile bytes read from segment files.
    std::vector<util::Byte> inputBuffer;
    // Re-coded tag sets of tree leaves, written through tagCoder.
    std::array<util::Byte, TAG_BUFFER_SIZE> tagBuffer{};
    util::BitCoderContext tagCoder;
    // Node records while a tile is decoded (and geometry bytes while weaving).
    std::vector<util::Byte> recordBuffer;
    // The reverse-link lists of a tile.
    std::vector<std::int32_t> linkListBuffer;
    // Node identifiers, record ends, longitudes and latitudes of a tile's nodes.
    std::vector<std::int32_t> nodeIdBuffer;
    std::vector<std::int32_t> recordEndBuffer;
    std::vector<std::int32_t> lonBuffer;
    std::vector<std::int32_t> latBuffer;
    // Scratch of the decoded tile: the heads of the reverse-link lists and the
    // bit set of kept nodes.
    std::vector<std::int32_t> linkListHeads;
    std::vector<std::uint32_t> keptNodes;
    // A woven tile's way tag sets as the profile sees them.
    std::vector<expressions::FilteredTagSet> wayTagSets;
};

// A span of count ints: the shared buffer when it is large enough, else own
// (resized to count).
inline std::span<std::int32_t> intBufferFor(std::vector<std::int32_t>& shared, std::vector<std::int32_t>& own,
                                            std::int32_t count) {
    const auto size = static_cast<std::size_t>(count);
    if (size <= shared.size()) {
        return std::span<std::int32_t>(shared.data(), size);
    }
    own.assign(size, 0);
    return std::span<std::int32_t>(own);
}

} // namespace ferrow::codec
