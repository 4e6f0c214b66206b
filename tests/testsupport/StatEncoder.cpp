#include "testsupport/StatEncoder.h"

#include <cstdlib>
#include <limits>

#include "codec/StatCoderContext.h"

namespace ferrow::testsupport {

namespace {

struct NoisySplit {
    std::uint32_t low;  // the n raw bits
    std::uint32_t high; // the magnitude of the multiple of 2^n
    bool negative;      // the sign of that multiple
};

NoisySplit splitNoisyDiff(std::int32_t value, std::int32_t n) {
    if (n == 0) {
        const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(value));
        return NoisySplit{0, static_cast<std::uint32_t>(magnitude), value < 0};
    }
    const std::int64_t half = std::int64_t{1} << (n - 1);
    const std::int64_t mask = (std::int64_t{1} << n) - 1;
    const std::int64_t low = (static_cast<std::int64_t>(value) + half) & mask;
    const std::int64_t rest = static_cast<std::int64_t>(value) - (low - half);
    return NoisySplit{static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(std::llabs(rest) >> n), rest < 0};
}

} // namespace

StatEncoder::StatEncoder(std::int32_t capacity)
    : buffer_(static_cast<std::size_t>(capacity)), coder_(util::BitCoderContext::writer(buffer_)) {}

void StatEncoder::encodeFixedBits(std::int32_t n, std::int32_t value) {
    for (std::int32_t bit = 0; bit < n; ++bit) {
        coder_.encodeSingleBit(((static_cast<std::uint32_t>(value) >> bit) & 1U) != 0);
    }
}

void StatEncoder::encodeFixedBitsReversed(std::int32_t n, std::int32_t value) {
    for (std::int32_t bit = n - 1; bit >= 0; --bit) {
        coder_.encodeSingleBit(((static_cast<std::uint32_t>(value) >> bit) & 1U) != 0);
    }
}

void StatEncoder::encodeNoisyNumber(std::int32_t value, std::int32_t n) {
    encodeFixedBits(n, value);
    coder_.encodeVarBits(static_cast<std::int32_t>(static_cast<std::uint32_t>(value) >> n));
}

void StatEncoder::encodeNoisyDiff(std::int32_t value, std::int32_t n) {
    const NoisySplit split = splitNoisyDiff(value, n);
    encodeFixedBits(n, static_cast<std::int32_t>(split.low));
    coder_.encodeVarBits(static_cast<std::int32_t>(split.high));
    if (split.high != 0) {
        coder_.encodeSingleBit(split.negative);
    }
}

void StatEncoder::encodePredictedValue(std::int32_t value, std::int32_t p) {
    encodeNoisyDiff(static_cast<std::int32_t>(static_cast<std::uint32_t>(value) - static_cast<std::uint32_t>(p)),
                    codec::StatCoderContext::noisyBitsAround(p));
}

void StatEncoder::encodeSortedArray(std::span<const std::int32_t> values, std::int32_t nextBit) {
    if (values.size() == 1) {
        if (nextBit >= 0) {
            encodeFixedBitsReversed(nextBit + 1, values[0]);
        }
        return;
    }
    if (nextBit < 0) {
        return; // equal values: nothing left to tell them apart
    }
    std::size_t zeros = 0;
    while (zeros < values.size() && ((static_cast<std::uint32_t>(values[zeros]) >> nextBit) & 1U) == 0) {
        ++zeros;
    }
    encodeBounded(static_cast<std::int32_t>(values.size()), static_cast<std::int32_t>(zeros));
    if (zeros > 0) {
        encodeSortedArray(values.first(zeros), nextBit - 1);
    }
    if (values.size() > zeros) {
        encodeSortedArray(values.subspan(zeros), nextBit - 1);
    }
}

std::int32_t StatEncoder::varBitsLength(std::int32_t value) {
    std::int64_t range = 0;
    std::int32_t zeros = 0;
    std::int64_t remaining = value < 0 ? 0 : value;
    while (remaining > range) {
        remaining -= range + 1;
        range = 2 * range + 1;
        ++zeros;
    }
    return 2 * zeros + 1;
}

std::int32_t StatEncoder::noisyDiffLength(std::int32_t value, std::int32_t n) {
    const NoisySplit split = splitNoisyDiff(value, n);
    return n + varBitsLength(static_cast<std::int32_t>(split.high)) + (split.high != 0 ? 1 : 0);
}

std::int32_t StatEncoder::bestNoisyBits(std::span<const std::int32_t> values) {
    std::int32_t best = 0;
    std::int64_t bestLength = std::numeric_limits<std::int64_t>::max();
    for (std::int32_t n = 0; n <= 16; ++n) {
        std::int64_t length = 0;
        for (std::int32_t value : values) {
            length += noisyDiffLength(value, n);
        }
        if (length < bestLength) {
            best = n;
            bestLength = length;
        }
    }
    return best;
}

std::vector<util::Byte> StatEncoder::finish() {
    const std::int32_t length = coder_.flushAndGetLength();
    return std::vector<util::Byte>(buffer_.begin(), buffer_.begin() + length);
}

} // namespace ferrow::testsupport
