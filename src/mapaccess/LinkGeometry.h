#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "util/ByteArray.h"

namespace ferrow::mapaccess {

// A link's coded intermediate points, seen but not owned: the bytes stay in
// the storage of the tile the link was woven from (or, for links parsed one
// node at a time, in the node map), which the node map keeps for as long as
// the graph. Holding the bytes by one plain pointer keeps links small, and
// weaving, releasing and dropping a link never touch the bytes themselves.
//
// The bytes are preceded by their length (a 32-bit int, native order), as in
// a ByteArray's block, so a view of a ByteArray works too while the array
// lives. A default view is absent (no points at all).
class LinkGeometry {
public:
    LinkGeometry() noexcept = default;
    // A view of the array's bytes; the array must outlive every use of it.
    LinkGeometry(const util::ByteArray& array) noexcept : bytes_(array.data()) {} // NOLINT: a view of it
    LinkGeometry(const util::ByteArray&&) = delete;
    // A view of bytes whose length sits in the four bytes before them.
    static LinkGeometry ofLengthPrefixed(const util::Byte* bytes) noexcept {
        LinkGeometry geometry;
        geometry.bytes_ = bytes;
        return geometry;
    }

    bool isNull() const noexcept { return bytes_ == nullptr; }
    explicit operator bool() const noexcept { return bytes_ != nullptr; }
    std::int32_t size() const noexcept {
        if (bytes_ == nullptr) return 0;
        std::int32_t length;
        std::memcpy(&length, bytes_ - sizeof(length), sizeof(length));
        return length;
    }
    const util::Byte* data() const noexcept { return bytes_; }
    std::span<const util::Byte> span() const noexcept {
        return bytes_ != nullptr ? std::span<const util::Byte>(bytes_, static_cast<std::size_t>(size()))
                                 : std::span<const util::Byte>();
    }
    // The very same bytes (both absent counts as the same).
    bool isSameAs(LinkGeometry other) const noexcept { return bytes_ == other.bytes_; }

    // A count that grows whenever storage of geometry bytes is given back, so
    // that a memo of a view (the geometry decoder's) can tell that the bytes
    // it saw may since have been replaced by others at the same place.
    static std::uint64_t storageGeneration() noexcept;
    static void noteStorageFreed() noexcept;

private:
    const util::Byte* bytes_ = nullptr;
};

static_assert(sizeof(LinkGeometry) == sizeof(void*), "links hold their geometry by one pointer");

} // namespace ferrow::mapaccess
