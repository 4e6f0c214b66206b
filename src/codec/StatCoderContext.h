#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "util/BitCoderContext.h"

namespace ferrow::codec {

// Reads the number codes of tile bodies on top of the var-bits code: noisy
// numbers (raw low bits plus a var-bits high part), noisy differences around
// zero or around a prediction, and sorted arrays split by bit planes.
class StatCoderContext : public util::BitCoderContext {
public:
    // The widest raw part a noisy difference may have: the bit buffer offers
    // 24 bits after a refill, and real tiles stay far below it.
    static constexpr std::int32_t MAX_NOISY_BITS = 24;

    explicit StatCoderContext(std::span<const util::Byte> data) noexcept : BitCoderContext(data) {}
    explicit StatCoderContext(std::vector<util::Byte>&&) = delete;

    // Entry i: how many halvings bring i to at most 5 (0 below 3).
    static constexpr std::array<std::uint8_t, 1024> NOISY_BITS = [] {
        std::array<std::uint8_t, 1024> table{};
        for (std::uint32_t i = 3; i < 1024; ++i) {
            std::uint32_t value = i;
            std::uint8_t halvings = 0;
            while (value > 5) {
                value >>= 1;
                ++halvings;
            }
            table[i] = static_cast<std::uint8_t>(halvings + 1);
        }
        return table;
    }();

    // n raw low bits, then the high part as var-bits.
    std::int32_t decodeNoisyValue(std::int32_t n) {
        fillBuffer();
        const auto low = static_cast<std::uint32_t>(decodeFixedBits(n));
        const auto high = static_cast<std::uint32_t>(decodeVarBits());
        return static_cast<std::int32_t>(low | (high << n));
    }

    // n raw bits centred on zero, then a var-bits multiple of 2^n with a sign
    // bit that is only present when that multiple is not zero.
    std::int32_t decodeNoisyDiff(std::int32_t n) {
        if (static_cast<std::uint32_t>(n) > static_cast<std::uint32_t>(MAX_NOISY_BITS)) {
            throwNoisyBitsOutOfRange(n);
        }
        std::uint32_t value = 0;
        if (n > 0) {
            fillBuffer();
            value = static_cast<std::uint32_t>(decodeFixedBits(n)) - (1U << (n - 1));
        }
        const std::uint32_t high = static_cast<std::uint32_t>(decodeVarBits()) << n;
        if (high != 0) {
            value = decodeSingleBit() ? value - high : value + high;
        }
        return static_cast<std::int32_t>(value);
    }

    // A difference coded around the prediction p, its noise width taken from |p|.
    std::int32_t decodeAroundPrediction(std::int32_t p) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p) +
                                         static_cast<std::uint32_t>(decodeNoisyDiff(noisyBitsAround(p))));
    }

    // The noise width that decodeAroundPrediction uses for the prediction p.
    static std::int32_t noisyBitsAround(std::int32_t p) noexcept {
        std::int64_t magnitude = p < 0 ? -static_cast<std::int64_t>(p) : p;
        std::int32_t bits = 0;
        while (magnitude > 1023) {
            magnitude >>= 1;
            ++bits;
        }
        return bits + NOISY_BITS[static_cast<std::size_t>(magnitude)];
    }

    // Fills values[offset, offset + count) with non-decreasing numbers whose
    // bits above nextBit equal those of value. The caller guarantees that the
    // range lies inside values.
    void decodeSortedArray(std::span<std::int32_t> values, std::int32_t offset, std::int32_t count,
                           std::int32_t nextBit, std::int32_t value);

private:
    [[noreturn]] static void throwNoisyBitsOutOfRange(std::int32_t n);
};

} // namespace ferrow::codec
