#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {

// A map from signed 64-bit keys (node identifiers) to values, without one heap
// object per entry: the entries lie in up to 30 sorted arrays whose sizes follow
// the binary digits of the entry count (slot k holds 2^(k-1) entries exactly
// when bit k-1 of the count is set), and an insertion merges arrays like the
// carry of a binary counter. Small emptied arrays are kept for reuse, large
// ones released. Absent keys read as V{} (null for pointer values).
//
// V must be default-constructible and copyable (pointers, indexes, small values).
template <typename V>
class CompactLongMap {
public:
    CompactLongMap() {
        keys_[0].resize(1);
        values_[0].resize(1);
    }
    virtual ~CompactLongMap() = default;

    CompactLongMap(const CompactLongMap&) = delete;
    CompactLongMap& operator=(const CompactLongMap&) = delete;

    // Sets the value of key; true when the key was present (the value is
    // replaced), false when the entry was added.
    virtual bool put(std::int64_t key, V value) {
        const Position at = find(key);
        if (at.slot != 0) {
            values_[at.slot][at.index] = std::move(value);
            return true;
        }
        insert(key, std::move(value));
        return false;
    }

    // Adds an entry without looking for the key: the caller guarantees it is
    // new. A repeated key is caught by the merge that first brings both copies
    // together, or by freezing ("duplicate key found in late check: <key>");
    // the map is then unusable.
    virtual void fastPut(std::int64_t key, V value) { insert(key, std::move(value)); }

    virtual V get(std::int64_t key) const {
        const Position at = find(key);
        return at.slot != 0 ? values_[at.slot][at.index] : V{};
    }

    virtual bool contains(std::int64_t key) const { return find(key).slot != 0; }

    virtual std::int32_t size() const { return count_; }

    // Writes the keys in ascending order into keys (exactly size() places) and
    // appends the values in the same order; the map is left empty.
    virtual void moveToFrozenArrays(std::span<std::int64_t> keys, std::vector<V>& values) {
        if (keys.size() != static_cast<std::size_t>(count_)) {
            throw jcompat::IllegalArgumentException("frozen key array needs " + std::to_string(count_) +
                                                    " places, not " + std::to_string(keys.size()));
        }
        std::array<std::int32_t, kSlots> taken{};
        for (std::int32_t t = 0; t < count_; ++t) {
            int best = 0;
            std::int64_t bestKey = 0;
            for (std::uint32_t bits = static_cast<std::uint32_t>(count_); bits != 0; bits &= bits - 1) {
                const int slot = std::countr_zero(bits) + 1;
                if (taken[slot] < slotSize(slot)) {
                    const std::int64_t candidate = keys_[slot][static_cast<std::size_t>(taken[slot])];
                    if (best == 0 || candidate < bestKey) {
                        best = slot;
                        bestKey = candidate;
                    }
                }
            }
            if (t > 0 && keys[static_cast<std::size_t>(t) - 1] == bestKey) {
                throwDuplicate(bestKey);
            }
            keys[static_cast<std::size_t>(t)] = bestKey;
            values.push_back(std::move(values_[best][static_cast<std::size_t>(taken[best])]));
            ++taken[best];
        }
        for (int slot = 1; slot < kSlots; ++slot) {
            release(slot);
        }
        count_ = 0;
    }

protected:
    static constexpr int kSlots = 31;
    // Slots from this one on (8192 entries and more) are released when emptied.
    static constexpr int kKeepLimit = 14;
    static constexpr std::int32_t kCapacity = (std::int32_t{1} << 30) - 1;

    [[noreturn]] static void throwDuplicate(std::int64_t key) {
        throw jcompat::IllegalArgumentException("duplicate key found in late check: " + std::to_string(key));
    }

private:
    struct Position {
        int slot = 0; // 0: not found
        std::size_t index = 0;
    };

    static std::int32_t slotSize(int slot) noexcept { return std::int32_t{1} << (slot - 1); }

    // Smallest slots first; the first hit ends the search.
    Position find(std::int64_t key) const noexcept {
        for (std::uint32_t bits = static_cast<std::uint32_t>(count_); bits != 0; bits &= bits - 1) {
            const int slot = std::countr_zero(bits) + 1;
            const std::int64_t* slotKeys = keys_[slot].data();
            std::size_t pos = 0;
            for (std::size_t step = static_cast<std::size_t>(slotSize(slot)) >> 1; step != 0; step >>= 1) {
                if (slotKeys[pos + step] <= key) {
                    pos += step;
                }
            }
            if (slotKeys[pos] == key) {
                return {slot, pos};
            }
        }
        return {};
    }

    void insert(std::int64_t key, V&& value) {
        if (count_ >= kCapacity) {
            throw jcompat::IllegalArgumentException("cannot grow beyond size " + std::to_string(kCapacity));
        }
        keys_[0][0] = key;
        values_[0][0] = std::move(value);
        std::uint32_t oldCount = static_cast<std::uint32_t>(count_);
        ++count_;

        // The sources are slot 0 (the new entry) and the full slots below the
        // lowest clear bit of the old count; that slot is the target.
        std::array<std::int32_t, kSlots> fill{};
        fill[0] = 1;
        int target = 1;
        std::int32_t n = 1;
        while ((oldCount & 1U) != 0) {
            fill[target] = n;
            ++target;
            n *= 2;
            oldCount >>= 1;
        }
        std::vector<std::int64_t>& targetKeys = keys_[target];
        std::vector<V>& targetValues = values_[target];
        if (targetKeys.empty()) {
            targetKeys.resize(static_cast<std::size_t>(n));
            targetValues.resize(static_cast<std::size_t>(n));
        }

        // Merge from the top: the largest remaining key, the lowest slot on ties.
        for (std::int32_t write = n; write > 0;) {
            int best = -1;
            std::int64_t bestKey = 0;
            for (int source = 0; source < target; ++source) {
                if (fill[source] > 0) {
                    const std::int64_t candidate = keys_[source][static_cast<std::size_t>(fill[source]) - 1];
                    if (best < 0 || candidate > bestKey) {
                        best = source;
                        bestKey = candidate;
                    }
                }
            }
            if (write < n && bestKey == targetKeys[static_cast<std::size_t>(write)]) {
                throwDuplicate(bestKey);
            }
            --write;
            const auto from = static_cast<std::size_t>(--fill[best]);
            targetKeys[static_cast<std::size_t>(write)] = bestKey;
            targetValues[static_cast<std::size_t>(write)] = std::move(values_[best][from]);
        }
        for (int source = target - 1; source >= kKeepLimit; --source) {
            release(source);
        }
    }

    void release(int slot) {
        std::vector<std::int64_t>().swap(keys_[slot]);
        std::vector<V>().swap(values_[slot]);
    }

    // Slot 0 is the one-entry transfer slot of the entry being inserted.
    std::array<std::vector<std::int64_t>, kSlots> keys_;
    std::array<std::vector<V>, kSlots> values_;
    std::int32_t count_ = 0;
};

} // namespace ferrow::util
