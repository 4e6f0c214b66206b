#pragma once

#include <cstdint>
#include <span>

namespace ferrow::util {

// Raises IndexOutOfBoundsException "Index <index> out of bounds for length <length>",
// the text the engine passes on when a damaged tile is read past its end.
// Kept out of line so the bounds checks of the hot readers stay small.
[[noreturn]] void throwIndexOutOfBounds(std::int64_t index, std::int64_t length);

// bytes[offset, offset + length) as a span; a slice reaching outside the bytes
// (or a negative offset or length) raises IndexOutOfBoundsException.
template <typename T>
std::span<T> checkedSlice(std::span<T> bytes, std::int32_t offset, std::int32_t length) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (offset < 0 || length < 0 || offset > size - length) {
        throwIndexOutOfBounds(offset < 0 ? offset : static_cast<std::int64_t>(offset) + length, size);
    }
    return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

} // namespace ferrow::util
