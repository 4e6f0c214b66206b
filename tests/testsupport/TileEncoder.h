#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "testsupport/TileContent.h"
#include "util/ByteArray.h"

namespace ferrow::testsupport {

// Codes a tile's content into a tile body with its checksum footer, the exact
// form the decoders read: prefix-code trees of the tag sets (by use count),
// the noise widths that make each difference stream shortest, sorted node
// identifiers, the record size the decoded tile needs, then node by node.
//
// Raises std::invalid_argument for content a tile cannot hold (a node outside
// the tile, two nodes at one position unless the tile allows it, an internal
// link marked reverse).
class TileEncoder {
public:
    enum class Footer {
        Current, // checksum XOR 2
        Old,     // the plain checksum of the old format, which readers refuse
    };

    // The body, padding zero bytes (which make the decoder stop short of the
    // footer, so that readers check it), and the footer over both.
    static std::vector<util::Byte> encode(const TileContent& tile, Footer footer = Footer::Current,
                                          std::int32_t padding = 0);
    static std::vector<util::Byte> encodeBody(const TileContent& tile);
    // A body (worked out by hand, say) with its footer appended.
    static std::vector<util::Byte> withFooter(std::span<const util::Byte> body, Footer footer = Footer::Current);

    // The bytes the decoded tile's record array must offer for these nodes.
    static std::int32_t recordSize(const TileContent& tile);
};

} // namespace ferrow::testsupport
