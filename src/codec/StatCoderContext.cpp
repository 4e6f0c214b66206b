#include "codec/StatCoderContext.h"

#include <algorithm>
#include <string>

#include "codec/CorruptTile.h"

namespace ferrow::codec {

void StatCoderContext::decodeSortedArray(std::span<std::int32_t> values, std::int32_t offset, std::int32_t count,
                                         std::int32_t nextBit, std::int32_t value) {
    // The recursion goes one bit plane deeper per level, so it is at most 31 deep.
    if (count == 1) {
        if (nextBit >= 0) {
            value |= decodeFixedBitsReversed(nextBit + 1);
        }
        values[static_cast<std::size_t>(offset)] = value;
        return;
    }
    if (nextBit < 0) {
        std::fill_n(values.begin() + offset, count, value);
        return;
    }
    const std::int32_t zeros = decodeBounded(count);
    if (zeros > 0) {
        decodeSortedArray(values, offset, zeros, nextBit - 1, value);
    }
    if (count - zeros > 0) {
        decodeSortedArray(values, offset + zeros, count - zeros, nextBit - 1,
                          static_cast<std::int32_t>(static_cast<std::uint32_t>(value) | (1U << nextBit)));
    }
}

void StatCoderContext::throwNoisyBitsOutOfRange(std::int32_t n) {
    throwCorruptTile("noisy bit count " + std::to_string(n) + " out of range");
}

} // namespace ferrow::codec
