#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "util/Bounds.h"
#include "util/ByteArray.h"

namespace ferrow::util {

// The checksum of segment files, tiles and tag-set hashes: the CRC-32 register
// (reflected polynomial 0xEDB88320) started at all ones and not inverted at the
// end, i.e. the bitwise complement of the usual CRC-32 value.
class Crc32 {
public:
    // Entry i: the register after feeding byte i into a zero register.
    static constexpr std::array<std::uint32_t, 256> TABLE = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xEDB88320U : crc >> 1;
            }
            entries[i] = crc;
        }
        return entries;
    }();

    // The register over all the bytes, as a signed 32-bit value.
    static std::int32_t crc(std::span<const Byte> bytes) noexcept {
        std::uint32_t crc = 0xFFFFFFFFU;
        for (const Byte b : bytes) {
            crc = (crc >> 8) ^ TABLE[(crc ^ b) & 0xFFU];
        }
        return static_cast<std::int32_t>(crc);
    }

    // The register over bytes[offset, offset + length); a range outside the
    // bytes raises IndexOutOfBoundsException.
    static std::int32_t crc(std::span<const Byte> bytes, std::int32_t offset, std::int32_t length) {
        return crc(checkedSlice(bytes, offset, length));
    }
};

} // namespace ferrow::util
