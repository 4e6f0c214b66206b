#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "util/IByteArrayUnifier.h"

namespace ferrow::util {

// A direct-mapped cache of byte arrays keyed by their CRC: equal slices come
// back as the same array while nothing else has taken their slot; a slot
// collision just yields a fresh copy, which is still correct.
class ByteArrayUnifier final : public IByteArrayUnifier {
public:
    // slotCount must be at least 1 (the node map uses 16384).
    explicit ByteArrayUnifier(std::int32_t slotCount);

    ByteArray unify(std::span<const Byte> slice) override;

private:
    std::vector<ByteArray> slots_;
};

} // namespace ferrow::util
