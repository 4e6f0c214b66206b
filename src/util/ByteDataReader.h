#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "util/Bounds.h"
#include "util/ByteArray.h"

namespace ferrow::util {

// Reads byte records from bytes it does not own: big-endian fixed-width numbers
// and 7-bit variable-length numbers, at a moving position. Every read is checked
// against the length of the bytes (not against end, which only tells
// hasMoreData where a record stops) and raises IndexOutOfBoundsException when
// it would run past them.
class ByteDataReader {
public:
    ByteDataReader() noexcept = default;
    explicit ByteDataReader(std::span<const Byte> data, std::int32_t start = 0) { reset(data, start); }
    // The reader does not own its bytes: a temporary array would be gone before the reads.
    explicit ByteDataReader(std::vector<Byte>&&, std::int32_t = 0) = delete;

    // Reads data from start on; end becomes the length of data. Inline: the
    // search resets a reader for every link's geometry.
    void reset(std::span<const Byte> data, std::int32_t start = 0) {
        if (data.size() > static_cast<std::size_t>(INT32_MAX)) throwTooLarge(data.size());
        data_ = data.data();
        length_ = static_cast<std::int32_t>(data.size());
        position_ = start;
        end_ = length_;
    }

    std::int32_t readInt() {
        const Byte* p = take(4);
        return static_cast<std::int32_t>((unsignedAt(p, 0) << 24) | (unsignedAt(p, 1) << 16) | (unsignedAt(p, 2) << 8) |
                                         unsignedAt(p, 3));
    }

    std::int64_t readLong() {
        const Byte* p = take(8);
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = (value << 8) | unsignedAt(p, i);
        }
        return static_cast<std::int64_t>(value);
    }

    std::int16_t readShort() {
        const Byte* p = take(2);
        return static_cast<std::int16_t>((unsignedAt(p, 0) << 8) | unsignedAt(p, 1));
    }

    bool readBoolean() { return *take(1) != 0; }

    // 7-bit groups, lowest first, 0x80 marking that another byte follows; at most
    // five bytes, the fifth contributing its bits shifted left by 28.
    std::int32_t readVarLengthUnsigned() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            const std::uint32_t b = unsignedAt(take(1), 0);
            value |= (b & 0x7FU) << shift;
            if ((b & 0x80U) == 0) {
                break;
            }
        }
        return static_cast<std::int32_t>(value);
    }

    // Sign and magnitude: v >> 1, negated when bit 0 of v is set.
    std::int32_t readSignedVarLength() {
        const std::int32_t v = readVarLengthUnsigned();
        return (v & 1) == 0 ? v >> 1 : -(v >> 1);
    }

    bool hasMoreData() const noexcept { return position_ < end_; }

    std::int32_t getPosition() const noexcept { return position_; }
    std::int32_t getEnd() const noexcept { return end_; }

    // All bytes of data as signed decimals (bytes 0x80 and up are negative): "[ 1, -2 ]", "[ ]" when empty.
    std::string toString() const;

protected:
    [[noreturn]] static void throwTooLarge(std::size_t size);

    // Takes n bytes at the position and advances past them.
    const Byte* take(std::int32_t n) {
        if (position_ < 0 || n > length_ - position_) {
            throwIndexOutOfBounds(position_ < 0 ? position_ : std::int64_t{length_}, length_);
        }
        const Byte* p = data_ + position_;
        position_ += n;
        return p;
    }

    static std::uint32_t unsignedAt(const Byte* p, int i) noexcept { return p[i]; }

    const Byte* data_ = nullptr;
    std::int32_t length_ = 0;
    std::int32_t position_ = 0; // next byte to read or write
    std::int32_t end_ = 0;      // where the current record ends (for hasMoreData)
};

} // namespace ferrow::util
