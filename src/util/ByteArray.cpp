#include "util/ByteArray.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "jcompat/Exceptions.h"

#include "util/Bounds.h"

namespace ferrow::util {

ByteArray ByteArray::copyOf(std::span<const Byte> bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
        throw jcompat::IllegalArgumentException("byte array too large: " + std::to_string(bytes.size()));
    }
    ByteArray array;
    void* memory = ::operator new(sizeof(Block) + bytes.size());
    array.block_ = new (memory) Block{1, static_cast<std::int32_t>(bytes.size())};
    std::copy(bytes.begin(), bytes.end(), bytesOf(array.block_));
    return array;
}

Byte ByteArray::operator[](std::int32_t index) const {
    const std::int32_t length = size();
    if (index < 0 || index >= length) {
        throwIndexOutOfBounds(index, length);
    }
    return bytesOf(block_)[index];
}

bool ByteArray::contentEquals(const ByteArray& other) const noexcept {
    if (block_ == other.block_) {
        return true;
    }
    if (block_ == nullptr || other.block_ == nullptr) {
        return false;
    }
    return contentEquals(other.span());
}

bool ByteArray::contentEquals(std::span<const Byte> bytes) const noexcept {
    if (block_ == nullptr) {
        return false;
    }
    const std::span<const Byte> own = span();
    return std::equal(own.begin(), own.end(), bytes.begin(), bytes.end());
}

} // namespace ferrow::util
