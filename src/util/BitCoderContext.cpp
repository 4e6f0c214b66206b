#include "util/BitCoderContext.h"

#include <limits>
#include <string>

#include "jcompat/Exceptions.h"
#include "util/Bounds.h"

namespace ferrow::util {

namespace {

const auto& tables = bitcoder_detail::kVarBitsTables;

} // namespace

BitCoderContext::BitCoderContext(std::span<const Byte> data, Byte* out) noexcept
    : data_(data.data()),
      out_(out),
      end_(static_cast<std::int32_t>(data.size()) - 1),
      position_(-1),
      bitCount_(0),
      bits_(0) {}

BitCoderContext::BitCoderContext(std::span<const Byte> data) noexcept : BitCoderContext(data, nullptr) {}

BitCoderContext BitCoderContext::writer(std::span<Byte> buffer) noexcept {
    return BitCoderContext(std::span<const Byte>(buffer), buffer.data());
}

void BitCoderContext::advancePastEnd() {
    // The zero bits past the end still count as taken bytes; the position only
    // has to stay clear of overflow on a stream read as zeros for very long.
    if (position_ == std::numeric_limits<std::int32_t>::max()) {
        throwIndexOutOfBounds(position_, static_cast<std::int64_t>(end_) + 1);
    }
    ++position_;
}

void BitCoderContext::loadNextByte() {
    advancePastEnd();
    if (position_ > end_) {
        throwIndexOutOfBounds(position_, static_cast<std::int64_t>(end_) + 1);
    }
    bits_ = data_[position_];
    bitCount_ = 8;
}

void BitCoderContext::throwBadBitCount(std::int32_t n, std::int32_t limit) {
    throw jcompat::IllegalArgumentException("bit count " + std::to_string(n) + " outside 0.." + std::to_string(limit));
}

std::int32_t BitCoderContext::decodeFixedBitsReversed(std::int32_t n) {
    if (static_cast<std::uint32_t>(n) > 32U) {
        throwBadBitCount(n, 32);
    }
    fillBuffer();
    std::uint32_t result = 0;
    while (n > 8) {
        result = (result << 8) | tables.reversedBits[bits_ & 0xFFU];
        bits_ >>= 8;
        bitCount_ -= 8;
        fillBuffer();
        n -= 8;
    }
    const std::uint32_t last = static_cast<std::uint32_t>(tables.reversedBits[bits_ & 0xFFU]) >> (8 - n);
    result = n == 0 ? result : (result << n) | last;
    bits_ >>= n;
    bitCount_ -= n;
    return static_cast<std::int32_t>(result);
}

std::int32_t BitCoderContext::decodeVarBits2() {
    std::int64_t range = 0;
    int zeros = 0;
    while (!decodeSingleBit()) {
        if (++zeros > 31) {
            throw jcompat::RuntimeException("corrupt var-bits code: more than 31 leading zeros");
        }
        range = 2 * range + 1;
    }
    const std::int64_t value = range + decodeBounded(static_cast<std::int32_t>(range));
    if (value > std::numeric_limits<std::int32_t>::max()) {
        throw jcompat::RuntimeException("corrupt var-bits code: value exceeds 32 bits");
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t BitCoderContext::decodeLongVarBits() {
    // The first 12 bits are zeros. With a one bit among the next 12 the code is
    // at most 47 bits long: skip the zeros in two steps and take the offset
    // after a refill; otherwise leave it to the bit-by-bit decoder.
    if ((bits_ & 0xFFFFFFU) == 0) {
        return decodeVarBits2();
    }
    bits_ >>= 12;
    bitCount_ -= 12;
    const std::int32_t moreZeros = tables.decodeLength[bits_ & 0xFFFU] >> 1;
    bits_ >>= moreZeros + 1;
    bitCount_ -= moreZeros + 1;
    fillBuffer();
    const std::int32_t n = 12 + moreZeros;
    const std::uint32_t offset = bits_ & ((1U << n) - 1U);
    bits_ >>= n;
    bitCount_ -= n;
    return static_cast<std::int32_t>((1U << n) - 1U + offset);
}

void BitCoderContext::writeLowByte() {
    if (out_ == nullptr) {
        throw jcompat::IllegalStateException("bit coder opened for reading cannot write");
    }
    if (position_ >= end_) {
        throwIndexOutOfBounds(static_cast<std::int64_t>(position_) + 1, static_cast<std::int64_t>(end_) + 1);
    }
    ++position_;
    out_[position_] = static_cast<Byte>(bits_ & 0xFFU);
    bits_ >>= 8;
    bitCount_ -= 8;
}

void BitCoderContext::encodeBounded(std::int32_t max, std::int32_t value) {
    std::int64_t remaining = max;
    for (std::int64_t mask = 1; mask <= remaining; mask <<= 1) {
        const bool bit = (value & mask) != 0;
        encodeSingleBit(bit);
        if (bit) {
            remaining -= mask;
        }
    }
}

void BitCoderContext::encodeVarBits2(std::int32_t value) {
    std::int64_t remaining = value;
    std::int64_t range = 0;
    while (remaining > range) {
        encodeSingleBit(false);
        remaining -= range + 1;
        range = 2 * range + 1;
    }
    encodeSingleBit(true);
    encodeBounded(static_cast<std::int32_t>(range), static_cast<std::int32_t>(remaining));
}

std::int32_t BitCoderContext::flushAndGetLength() {
    while (bitCount_ > 7) {
        writeLowByte();
    }
    if (bitCount_ > 0) {
        bitCount_ = 8; // the pending bits go out as one zero-padded byte
        writeLowByte();
        bitCount_ = 0;
        bits_ = 0;
    }
    return position_ + 1;
}

} // namespace ferrow::util
