#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "util/ByteDataReader.h"

namespace ferrow::util {

// Writes byte records into a buffer it does not own and never grows: writes
// past the buffer raise IndexOutOfBoundsException. Users size the buffer
// beforehand. As a ByteDataReader it reads the same bytes.
class ByteDataWriter : public ByteDataReader {
public:
    ByteDataWriter() noexcept = default;
    explicit ByteDataWriter(std::span<Byte> buffer, std::int32_t start = 0) { reset(buffer, start); }
    explicit ByteDataWriter(std::vector<Byte>&&, std::int32_t = 0) = delete;

    // Writes into (and reads from) buffer from start on; end becomes its length.
    void reset(std::span<Byte> buffer, std::int32_t start = 0) {
        ByteDataReader::reset(buffer, start);
        out_ = buffer.data();
        outLength_ = length_;
    }

    void writeInt(std::int32_t v) {
        Byte* p = put(4);
        const auto u = static_cast<std::uint32_t>(v);
        p[0] = static_cast<Byte>(u >> 24);
        p[1] = static_cast<Byte>(u >> 16);
        p[2] = static_cast<Byte>(u >> 8);
        p[3] = static_cast<Byte>(u);
    }

    void writeShort(std::int32_t v) {
        Byte* p = put(2);
        p[0] = static_cast<Byte>(static_cast<std::uint32_t>(v) >> 8);
        p[1] = static_cast<Byte>(v);
    }

    void writeBoolean(bool v) { *put(1) = v ? 1 : 0; }

    // v as unsigned 32-bit, 7-bit groups lowest first, 0x80 on every byte but the last.
    void writeVarLengthUnsigned(std::int32_t v) {
        auto u = static_cast<std::uint32_t>(v);
        Byte* p = put(varLengthSize(u));
        while (u >= 0x80U) {
            *p++ = static_cast<Byte>((u & 0x7FU) | 0x80U);
            u >>= 7;
        }
        *p = static_cast<Byte>(u);
    }

    // Sign and magnitude: (|v| << 1) | 1 for negative v, else v << 1.
    void writeSignedVarLength(std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        writeVarLengthUnsigned(static_cast<std::int32_t>(v < 0 ? ((0U - u) << 1) | 1U : u << 1));
    }

    // The length, then the bytes (an absent or empty array as the single byte 0).
    void writeVarBytes(std::span<const Byte> bytes);

    // (tag length << 1) | reverse, then the tag bytes.
    void writeModeAndTags(bool reverse, std::span<const Byte> tags);

    // Leaves one byte for a size that patchSize fills in later; returns its position.
    std::int32_t reserveSizeByte() noexcept { return position_++; }

    // Writes the number of bytes written after the reserved byte into it, moving
    // those bytes right when the size needs more than one byte.
    void patchSize(std::int32_t sizePosition);

    // Bytes writeVarLengthUnsigned needs for v (1 to 5).
    static std::int32_t varLengthSize(std::uint32_t v) noexcept {
        return v < 0x80U ? 1 : v < 0x4000U ? 2 : v < 0x200000U ? 3 : v < 0x10000000U ? 4 : 5;
    }

protected:
    // Room for n bytes at the position; advances past them.
    Byte* put(std::int32_t n) {
        if (position_ < 0 || n < 0 || n > outLength_ - position_) {
            throwIndexOutOfBounds(position_ < 0 ? position_ : std::int64_t{outLength_}, outLength_);
        }
        Byte* p = out_ + position_;
        position_ += n;
        return p;
    }

private:
    Byte* out_ = nullptr;
    // Writes are bounded by the writable buffer even if the read view is changed.
    std::int32_t outLength_ = 0;
};

} // namespace ferrow::util
