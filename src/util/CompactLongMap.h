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
    CompactLongMap() = default;
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
        // Repeatedly the smallest next key, the lowest slot on ties; a slot stays
        // the choice while its next key is below the runner-up's.
        std::array<std::int32_t, SLOTS> taken{};
        for (std::int32_t t = 0; t < count_;) {
            int best = 0;
            int runnerUp = 0;
            std::int64_t bestKey = 0;
            std::int64_t runnerUpKey = 0;
            for (std::uint32_t bits = static_cast<std::uint32_t>(count_); bits != 0; bits &= bits - 1) {
                const int slot = std::countr_zero(bits) + 1;
                if (taken[slot] < slotSize(slot)) {
                    const std::int64_t candidate = keys_[slot][static_cast<std::size_t>(taken[slot])];
                    if (best == 0 || candidate < bestKey) {
                        runnerUp = best;
                        runnerUpKey = bestKey;
                        best = slot;
                        bestKey = candidate;
                    } else if (runnerUp == 0 || candidate < runnerUpKey) {
                        runnerUp = slot;
                        runnerUpKey = candidate;
                    }
                }
            }
            const std::int64_t* bestKeys = keys_[best].data();
            do {
                const std::int64_t key = bestKeys[taken[best]];
                if (t > 0 && keys[static_cast<std::size_t>(t) - 1] == key) {
                    throwDuplicate(key);
                }
                keys[static_cast<std::size_t>(t)] = key;
                values.push_back(std::move(values_[best][static_cast<std::size_t>(taken[best])]));
                ++taken[best];
                ++t;
            } while (taken[best] < slotSize(best) && (runnerUp == 0 || bestKeys[taken[best]] < runnerUpKey ||
                                                      (bestKeys[taken[best]] == runnerUpKey && best < runnerUp)));
        }
        for (int slot = 1; slot < SLOTS; ++slot) {
            release(slot);
        }
        count_ = 0;
    }

private:
    static constexpr int SLOTS = 31;
    // Slots from this one on (8192 entries and more) are released when emptied.
    static constexpr int KEEP_LIMIT = 14;
    static constexpr std::int32_t CAPACITY = (std::int32_t{1} << 30) - 1;

    [[noreturn]] static void throwDuplicate(std::int64_t key) {
        throw jcompat::IllegalArgumentException("duplicate key found in late check: " + std::to_string(key));
    }

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
        if (count_ >= CAPACITY) {
            throw jcompat::IllegalArgumentException("cannot grow beyond size " + std::to_string(CAPACITY));
        }
        std::uint32_t oldCount = static_cast<std::uint32_t>(count_);
        ++count_;

        // The sources are the new entry and the full slots below the lowest
        // clear bit of the old count; that slot is the target, and the sources'
        // sizes (1, 1, 2, 4, ...) add up to its size.
        int target = 1;
        while ((oldCount & 1U) != 0) {
            ++target;
            oldCount >>= 1;
        }
        const auto n = static_cast<std::size_t>(slotSize(target));
        std::vector<std::int64_t>& targetKeys = keys_[target];
        std::vector<V>& targetValues = values_[target];
        if (targetKeys.empty()) {
            targetKeys.resize(n);
            targetValues.resize(n);
        }

        // Merge the sources from the smallest up into a sorted run that grows
        // downwards from the top of the target: the run of length len in
        // [n - len, n) and the next source (also of length len) go to
        // [n - 2 len, n). Writing ascending from the bottom never overtakes the
        // run's read position. Each key is compared once per move, and a key
        // present twice meets its copy in one of these merges.
        targetKeys[n - 1] = key;
        targetValues[n - 1] = std::move(value);
        bool duplicate = false;
        std::int64_t duplicateKey = 0;
        for (int source = 1; source < target; ++source) {
            const std::size_t len = static_cast<std::size_t>(slotSize(source));
            const std::int64_t* sourceKeys = keys_[source].data();
            std::vector<V>& sourceValues = values_[source];
            std::size_t write = n - 2 * len;
            std::size_t run = n - len;
            std::size_t next = 0;
            while (next < len) {
                if (run < n && targetKeys[run] <= sourceKeys[next]) {
                    if (targetKeys[run] == sourceKeys[next] && (!duplicate || sourceKeys[next] > duplicateKey)) {
                        duplicate = true;
                        duplicateKey = sourceKeys[next];
                    }
                    targetKeys[write] = targetKeys[run];
                    targetValues[write] = std::move(targetValues[run]);
                    ++run;
                } else {
                    targetKeys[write] = sourceKeys[next];
                    targetValues[write] = std::move(sourceValues[next]);
                    ++next;
                }
                ++write;
            }
            // The rest of the run is already in place.
        }
        if (duplicate) {
            // The largest repeated key: the one a merge from the top meets first.
            throwDuplicate(duplicateKey);
        }
        for (int source = target - 1; source >= KEEP_LIMIT; --source) {
            release(source);
        }
    }

    void release(int slot) {
        std::vector<std::int64_t>().swap(keys_[slot]);
        std::vector<V>().swap(values_[slot]);
    }

    // Slot k (1..30) holds 2^(k-1) entries; slot 0 is never used.
    std::array<std::vector<std::int64_t>, SLOTS> keys_;
    std::array<std::vector<V>, SLOTS> values_;
    std::int32_t count_ = 0;
};

} // namespace ferrow::util
