#pragma once

#include <cstdint>

#include "util/ByteArray.h"

namespace ferrow::codec {

// One decoded tag set of a tile's tree: its tag-value bytes and how usable a
// way with these tags is (2 usable, also for every node tag set; 1 forbidden
// but decoded). Tag sets that would be dropped are no wrapper at all.
struct TagValueWrapper {
    util::ByteArray data;
    std::int32_t accessType = 2;
};

} // namespace ferrow::codec
