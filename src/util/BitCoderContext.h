#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "util/ByteArray.h"

namespace ferrow::util {

namespace bitcoder_detail {

// Look-up tables of the var-bits code, computed at compile time: n zero bits,
// a one bit, then the n-bit offset from 2^n - 1, least significant bit first.
struct VarBitsTables {
    // For a 12-bit window w (first stream bit in bit 0): the length 2n + 1 of the
    // code starting there (25 when the window holds no one bit), and its value
    // when that length is at most 12.
    std::array<std::uint8_t, 4096> decodeLength{};
    std::array<std::uint8_t, 4096> decodeValue{};
    // For v < 4096: the code bits as they stand in the bit buffer, and their count.
    std::array<std::uint32_t, 4096> encodeBits{};
    std::array<std::uint8_t, 4096> encodeLength{};
    // Each byte with its bit order reversed.
    std::array<std::uint8_t, 256> reversedBits{};
};

constexpr VarBitsTables makeVarBitsTables() {
    VarBitsTables tables;
    for (std::uint32_t window = 0; window < 4096; ++window) {
        if (window == 0) {
            tables.decodeLength[window] = 25;
            continue;
        }
        std::uint32_t zeros = 0;
        while (((window >> zeros) & 1U) == 0) {
            ++zeros;
        }
        const std::uint32_t length = 2 * zeros + 1;
        tables.decodeLength[window] = static_cast<std::uint8_t>(length);
        if (length <= 12) {
            const std::uint32_t offset = (window >> (zeros + 1)) & ((1U << zeros) - 1);
            tables.decodeValue[window] = static_cast<std::uint8_t>((1U << zeros) - 1 + offset);
        }
    }
    for (std::uint32_t value = 0; value < 4096; ++value) {
        std::uint32_t zeros = 0;
        while (value > (2U << zeros) - 2) {
            ++zeros;
        }
        const std::uint32_t offset = value - ((1U << zeros) - 1);
        tables.encodeBits[value] = (1U << zeros) | (offset << (zeros + 1));
        tables.encodeLength[value] = static_cast<std::uint8_t>(2 * zeros + 1);
    }
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t reversed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            reversed |= ((b >> bit) & 1U) << (7 - bit);
        }
        tables.reversedBits[b] = static_cast<std::uint8_t>(reversed);
    }
    return tables;
}

inline constexpr VarBitsTables kVarBitsTables = makeVarBitsTables();

} // namespace bitcoder_detail

// Reads or writes a stream of bits packed least significant bit first into a
// byte array it does not own: the var-bits code of tile bodies and tag sets,
// bounded numbers, fixed-width fields and single bits.
//
// Reading past the end: the refill adds zero bits (the stream reads as zeros
// forever), while single-bit reads take whole bytes from the array and raise
// IndexOutOfBoundsException past it. A damaged stream therefore always ends in
// an exception or in zeros, never in a read outside the array.
class BitCoderContext {
public:
    // A reader over the whole of data.
    explicit BitCoderContext(std::span<const Byte> data) noexcept;
    // The coder does not own its bytes: a temporary array would be gone before the reads.
    explicit BitCoderContext(std::vector<Byte>&&) = delete;
    // A writer into buffer (it can also read back what the buffer holds).
    static BitCoderContext writer(std::span<Byte> buffer) noexcept;

    // Starts a new pass over the same array: nothing read or written, no bits pending.
    void reset() noexcept {
        position_ = -1;
        bitCount_ = 0;
        bits_ = 0;
    }

    // Bits taken from the stream so far: 8 x (position + 1) - pending bits.
    std::int64_t getReadingBitPosition() const noexcept {
        return 8 * (static_cast<std::int64_t>(position_) + 1) - bitCount_;
    }

    // --- reading ---

    // Tops the bit buffer up to 24..31 pending bits; past the end it adds zeros.
    void fillBuffer() {
        while (bitCount_ < 24) {
            if (position_ < end_) {
                ++position_;
                bits_ |= static_cast<std::uint32_t>(data_[position_]) << bitCount_;
            } else {
                advancePastEnd();
            }
            bitCount_ += 8;
        }
    }

    bool decodeSingleBit() {
        if (bitCount_ == 0) {
            loadNextByte();
        }
        const bool bit = (bits_ & 1U) != 0;
        bits_ >>= 1;
        --bitCount_;
        return bit;
    }

    // The next n bits (0 <= n <= 24) as an unsigned number, first bit lowest.
    // Tops the buffer up itself when fewer than n bits are pending.
    std::int32_t decodeFixedBits(std::int32_t n) {
        if (static_cast<std::uint32_t>(n) > 24U) {
            throwBadBitCount(n, 24);
        }
        if (bitCount_ < n) {
            fillBuffer();
        }
        const std::uint32_t value = bits_ & ((1U << n) - 1U);
        bits_ >>= n;
        bitCount_ -= n;
        return static_cast<std::int32_t>(value);
    }

    // The next n bits (0 <= n <= 32), the first bit read being the most significant.
    std::int32_t decodeFixedBitsReversed(std::int32_t n);

    // A number in 0..max, least significant bit first, taking only the bits
    // that can still change the value within max; nothing for max < 1.
    std::int32_t decodeBounded(std::int32_t max) {
        std::uint32_t value = 0;
        // Without a branch on the bit: the bits of a bounded number are random.
        for (int shift = 0; (std::int64_t{value} | (std::int64_t{1} << shift)) <= max; ++shift) {
            value |= static_cast<std::uint32_t>(decodeSingleBit()) << shift;
        }
        return static_cast<std::int32_t>(value);
    }

    // The var-bits code bit by bit. A code whose value does not fit in a signed
    // 32-bit number (more than 31 leading zeros, or an offset beyond the limit)
    // raises RuntimeException.
    std::int32_t decodeVarBits2();

    // The var-bits code through the tables: one refill and one look-up for codes
    // of up to 23 bits; always the same value as decodeVarBits2.
    std::int32_t decodeVarBits() {
        fillBuffer();
        const std::uint32_t window = bits_ & 0xFFFU;
        const std::int32_t length = bitcoder_detail::kVarBitsTables.decodeLength[window];
        if (length <= 12) {
            bits_ >>= length;
            bitCount_ -= length;
            return bitcoder_detail::kVarBitsTables.decodeValue[window];
        }
        if (length <= 23) {
            const std::int32_t n = length >> 1;
            const std::uint32_t offset = (bits_ >> (n + 1)) & ((1U << n) - 1U);
            bits_ >>= length;
            bitCount_ -= length;
            return static_cast<std::int32_t>((1U << n) - 1U + offset);
        }
        return decodeLongVarBits();
    }

    // --- writing (raises IllegalStateException on a reader) ---

    void encodeSingleBit(bool bit) {
        if (bitCount_ > 31) {
            writeLowByte();
        }
        if (bit) {
            bits_ |= 1U << bitCount_;
        }
        ++bitCount_;
    }

    // The mirror of decodeBounded: value in 0..max.
    void encodeBounded(std::int32_t max, std::int32_t value);

    void encodeVarBits2(std::int32_t value);

    // The var-bits code of value; a value below 1 is written as 0.
    void encodeVarBits(std::int32_t value) {
        if (static_cast<std::uint32_t>(value) > 4095U) {
            encodeVarBits2(value);
            return;
        }
        while (bitCount_ > 7) {
            writeLowByte();
        }
        bits_ |= bitcoder_detail::kVarBitsTables.encodeBits[static_cast<std::size_t>(value)] << bitCount_;
        bitCount_ += bitcoder_detail::kVarBitsTables.encodeLength[static_cast<std::size_t>(value)];
    }

    // Writes out every pending bit (the last byte padded with zeros) and returns
    // the number of bytes written since the last reset.
    std::int32_t flushAndGetLength();

private:
    BitCoderContext(std::span<const Byte> data, Byte* out) noexcept;

    std::int32_t decodeLongVarBits();
    void loadNextByte();
    void advancePastEnd();
    void writeLowByte();
    [[noreturn]] static void throwBadBitCount(std::int32_t n, std::int32_t limit);

    const Byte* data_;
    Byte* out_;             // the same bytes when writing, null for a reader
    std::int32_t end_;      // index of the last byte (length - 1)
    std::int32_t position_; // index of the last byte taken or written
    std::int32_t bitCount_; // pending bits
    std::uint32_t bits_;    // pending bits, next one in bit 0
};

} // namespace ferrow::util
