#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "util/BitCoderContext.h"
#include "util/ByteArray.h"

namespace ferrow::testsupport {

// Writes the number codes of tile bodies: the mirror of the decoder's
// StatCoderContext (which has no writer of its own). The buffer has a fixed
// capacity; writing past it raises IndexOutOfBoundsException, and the tile
// encoder then starts over with a larger one.
class StatEncoder {
public:
    explicit StatEncoder(std::int32_t capacity);
    StatEncoder(const StatEncoder&) = delete;
    StatEncoder& operator=(const StatEncoder&) = delete;

    void encodeBit(bool bit) { coder_.encodeSingleBit(bit); }
    void encodeVarBits(std::int32_t value) { coder_.encodeVarBits(value); }
    void encodeBounded(std::int32_t max, std::int32_t value) { coder_.encodeBounded(max, value); }
    // The low n bits of value, lowest first.
    void encodeFixedBits(std::int32_t n, std::int32_t value);
    // The low n bits of value, highest first.
    void encodeFixedBitsReversed(std::int32_t n, std::int32_t value);
    // n raw low bits, then the rest as var-bits.
    void encodeNoisyNumber(std::int32_t value, std::int32_t n);
    // value as n raw bits centred on zero plus a var-bits multiple of 2^n and a sign.
    void encodeNoisyDiff(std::int32_t value, std::int32_t n);
    // value coded around the prediction p.
    void encodePredictedValue(std::int32_t value, std::int32_t p);
    // Sorted values (each below 2^(nextBit + 1)) split by bit planes.
    void encodeSortedArray(std::span<const std::int32_t> values, std::int32_t nextBit);

    // Bits each code takes.
    static std::int32_t varBitsLength(std::int32_t value);
    static std::int32_t noisyDiffLength(std::int32_t value, std::int32_t n);
    // The raw width that makes a stream of noisy differences shortest (the
    // smallest of equally short ones).
    static std::int32_t bestNoisyBits(std::span<const std::int32_t> values);

    // Flushes the pending bits and returns the bytes written.
    std::vector<util::Byte> finish();

private:
    std::vector<util::Byte> buffer_;
    util::BitCoderContext coder_;
};

} // namespace ferrow::testsupport
