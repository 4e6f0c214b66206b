#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "jcompat/Exceptions.h"
#include "util/CompactLongMap.h"

namespace ferrow::util {

// The read-only form of a finished CompactLongMap: one ascending key array and
// the values in key order, searched by a single binary search.
template <typename V>
class FrozenLongMap final : public CompactLongMap<V> {
public:
    // Takes over the source's entries; the source is left empty.
    explicit FrozenLongMap(CompactLongMap<V>& source)
        : count_(source.size()), keys_(static_cast<std::size_t>(source.size())) {
        values_.reserve(static_cast<std::size_t>(count_));
        source.moveToFrozenArrays(keys_, values_);
        searchStep_ = std::bit_floor(static_cast<std::uint32_t>(count_));
    }
    explicit FrozenLongMap(CompactLongMap<V>&& source) : FrozenLongMap(source) {}

    bool put(std::int64_t, V) override { throwFrozen(); }
    void fastPut(std::int64_t, V) override { throwFrozen(); }

    V get(std::int64_t key) const override {
        const std::int32_t pos = find(key);
        return pos >= 0 ? values_[static_cast<std::size_t>(pos)] : V{};
    }

    bool contains(std::int64_t key) const override { return find(key) >= 0; }

    std::int32_t size() const override { return count_; }

    // Copies the entries (a frozen copy of a frozen map); this map stays as it is.
    void moveToFrozenArrays(std::span<std::int64_t> keys, std::vector<V>& values) override {
        if (keys.size() != keys_.size()) {
            throw jcompat::IllegalArgumentException("frozen key array needs " + std::to_string(count_) +
                                                    " places, not " + std::to_string(keys.size()));
        }
        std::copy(keys_.begin(), keys_.end(), keys.begin());
        values.insert(values.end(), values_.begin(), values_.end());
    }

    const std::vector<std::int64_t>& getKeyArray() const noexcept { return keys_; }
    const std::vector<V>& getValueList() const noexcept { return values_; }
    std::vector<V>& getValueList() noexcept { return values_; }

private:
    [[noreturn]] static void throwFrozen() { throw jcompat::RuntimeException("cannot put on FrozenLongIntMap"); }

    // Index of key, or -1.
    std::int32_t find(std::int64_t key) const noexcept {
        if (count_ == 0) {
            return -1;
        }
        const std::int64_t* keys = keys_.data();
        std::uint32_t pos = 0;
        for (std::uint32_t step = searchStep_; step != 0; step >>= 1) {
            if (pos + step < static_cast<std::uint32_t>(count_) && keys[pos + step] <= key) {
                pos += step;
            }
        }
        return keys[pos] == key ? static_cast<std::int32_t>(pos) : -1;
    }

    std::int32_t count_;
    std::uint32_t searchStep_ = 0;
    std::vector<std::int64_t> keys_;
    std::vector<V> values_;
};

} // namespace ferrow::util
