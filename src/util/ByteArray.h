#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <utility>

namespace ferrow::util {

// One byte of coded data: unsigned, like the buffers the file layer reads into.
// Where a format reads a byte as signed, the reader converts it explicitly.
using Byte = std::uint8_t;

// An immutable, shared byte array: the form in which tag sets and link geometry
// are kept by the graph and the evaluation caches. Copies share one block, so
// "the same array" (isSameAs) is a pointer comparison, which is what makes
// unified tag sets cheap to compare. A default-constructed ByteArray is absent
// (no array at all), which is distinct from an empty one.
//
// The reference count is not atomic: like every object of a request, an array
// belongs to one thread at a time (handing over needs a thread join or similar).
class ByteArray {
public:
    ByteArray() noexcept = default;

    // A new array holding a copy of the bytes (an empty span gives an empty array).
    static ByteArray copyOf(std::span<const Byte> bytes);

    ByteArray(const ByteArray& other) noexcept : block_(other.block_) {
        if (block_ != nullptr) {
            ++block_->references;
        }
    }
    ByteArray(ByteArray&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
    ByteArray& operator=(const ByteArray& other) noexcept {
        ByteArray copy(other);
        swap(copy);
        return *this;
    }
    ByteArray& operator=(ByteArray&& other) noexcept {
        ByteArray taken(std::move(other));
        swap(taken);
        return *this;
    }
    ~ByteArray() { release(); }

    void swap(ByteArray& other) noexcept {
        Block* block = block_;
        block_ = other.block_;
        other.block_ = block;
    }

    bool isNull() const noexcept { return block_ == nullptr; }
    explicit operator bool() const noexcept { return block_ != nullptr; }

    std::int32_t size() const noexcept { return block_ != nullptr ? block_->length : 0; }
    bool empty() const noexcept { return size() == 0; }
    const Byte* data() const noexcept { return block_ != nullptr ? bytesOf(block_) : nullptr; }
    std::span<const Byte> span() const noexcept {
        return block_ != nullptr ? std::span<const Byte>(bytesOf(block_), static_cast<std::size_t>(block_->length))
                                 : std::span<const Byte>();
    }
    operator std::span<const Byte>() const noexcept { return span(); }

    // Byte i; an index outside the array raises IndexOutOfBoundsException.
    Byte operator[](std::int32_t index) const;

    // The very same array (both absent counts as the same).
    bool isSameAs(const ByteArray& other) const noexcept { return block_ == other.block_; }
    // Same length and same bytes; an absent array equals only an absent one.
    bool contentEquals(const ByteArray& other) const noexcept;
    // Present, and its bytes equal the given ones.
    bool contentEquals(std::span<const Byte> bytes) const noexcept;

    // Number of holders of this array (0 when absent); for tests and diagnostics.
    std::int32_t useCount() const noexcept { return block_ != nullptr ? block_->references : 0; }

private:
    struct Block {
        std::int32_t references;
        std::int32_t length;
    };
    static_assert(sizeof(Block) == 8, "the block header sits right before the bytes");
    // Views that do not own the array (LinkGeometry) read the length in the
    // four bytes right before data().
    static_assert(offsetof(Block, length) == 4, "the length comes last in the header");

    static Byte* bytesOf(Block* block) noexcept { return reinterpret_cast<Byte*>(block + 1); }

    void release() noexcept {
        if (block_ != nullptr && --block_->references == 0) {
            ::operator delete(block_);
        }
        block_ = nullptr;
    }

    Block* block_ = nullptr;
};

static_assert(sizeof(ByteArray) == sizeof(void*), "links hold tag sets and geometry by one pointer");

} // namespace ferrow::util
