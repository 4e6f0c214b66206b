#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include "jcompat/Exceptions.h"
#include "util/Select.h"

namespace ferrow::util {

// The open set of the path search: a priority queue of values keyed by signed
// 32-bit integers, built from sorted bins whose sizes double (4, 4, 8, 16, ...).
// New entries go into the two 4-slot bins by insertion sort; when both are full,
// they and the occupied bins up to the first large enough one are merged into
// that bin in one pass. Popping compares only the lowest keys of occupied bins.
//
// The tie order is part of the contract (it decides which of equal-cost routes
// is found): within a bin an entry added earlier comes first, and among bins
// with equal lowest keys the smaller one (holding newer entries) wins, the
// first small bin before the second. The bins' lowest keys sit side by side,
// so that finding the lowest compares them without following the bins.
//
// Values are not owned: V is a pointer or another small value, V{} meaning none.
template <typename V>
class SortedHeap {
    static_assert(std::is_trivially_copyable_v<V>, "the heap copies its values around and never lets go of them");

public:
    SortedHeap() {
        bins_[0] = std::make_unique<SortedBin>(4);
        bins_[1] = std::make_unique<SortedBin>(4);
        lowestKeys_.fill(EMPTY);
    }

    SortedHeap(const SortedHeap&) = delete;
    SortedHeap& operator=(const SortedHeap&) = delete;

    // Empties the heap. The bins stay for the next search, so that it does
    // not allocate them again.
    void clear() {
        size_ = 0;
        for (std::int32_t index = 0; index < top_; ++index) {
            if (lowestKeys_[index] != EMPTY) bin(index).empty();
            lowestKeys_[index] = EMPTY;
        }
        top_ = 0;
    }

    void add(std::int32_t key, V value) {
        ++size_;
        if (bin(0).lowPointer == 0 && bin(1).lowPointer == 0) {
            mergeUpwards();
        }
        const std::int32_t index = bin(0).lowPointer > 0 ? 0 : 1;
        SortedBin& small = bin(index);
        small.add4(key, std::move(value));
        lowestKeys_[index] = small.lowestKey();
        if (top_ <= index) top_ = index + 1;
    }

    // Removes and returns a value with the lowest key; V{} when the heap is empty.
    V popLowest() {
        if (top_ == 0) {
            return V{};
        }
        --size_;
        return dropLowest(lowestIndex());
    }

    std::int32_t size() const noexcept { return size_; }

    // Calls visit with every value held, in no particular order.
    template <typename Visit>
    void forEachValue(Visit&& visit) const {
        for (std::int32_t index = 0; index < top_; ++index) {
            const SortedBin& held = *bins_[static_cast<std::size_t>(index)];
            for (std::int32_t slot = held.lowPointer; slot < held.binSize; ++slot) {
                visit(held.entries[static_cast<std::size_t>(slot)].value);
            }
        }
    }

private:
    // Key and value side by side: taking the lowest entry reads one place.
    struct Entry {
        std::int32_t key;
        V value;
    };

    // The chain of bins by size: two of 4 slots, then 8, 16, ... up to 2^30.
    static constexpr std::size_t MAX_BINS = 32;
    // The lowest key of a bin without entries: above every key.
    static constexpr std::int64_t EMPTY = std::numeric_limits<std::int64_t>::max();

    struct SortedBin {
        explicit SortedBin(std::int32_t size)
            : entries(std::make_unique<Entry[]>(static_cast<std::size_t>(size))), binSize(size), lowPointer(size) {}

        std::int32_t count() const noexcept { return binSize - lowPointer; }
        Entry& at(std::int32_t slot) noexcept { return entries[static_cast<std::size_t>(slot)]; }
        std::int32_t lowestKey() noexcept { return at(lowPointer).key; }

        // Drops the entries. Values are plain data: the slots left behind
        // hold nothing that needs letting go.
        void empty() noexcept { lowPointer = binSize; }

        // Insertion into a 4-slot bin with a free slot: the entries with keys up
        // to the new one move down a slot, so equal keys keep their order.
        // Counted and moved without branches: where a new key falls is as
        // good as random.
        void add4(std::int32_t key, V value) {
            const std::int32_t low = --lowPointer;
            std::int32_t slot = low;
            for (std::int32_t s = 1; s < 4; ++s) slot += static_cast<std::int32_t>((s > low) & (at(s).key <= key));
            for (std::int32_t s = 0; s < 3; ++s) at(s) = *selectPointer((s >= low) & (s < slot), &at(s + 1), &at(s));
            at(slot) = Entry{key, value};
        }

        std::unique_ptr<Entry[]> entries;
        std::int32_t binSize;
        std::int32_t lowPointer; // lowest occupied slot; binSize when empty
    };

    SortedBin& bin(std::int32_t index) noexcept { return *bins_[static_cast<std::size_t>(index)]; }

    // The bin holding the lowest key; of equal keys the smaller bin (the
    // smaller bins hold the newer entries), the first of the two small ones
    // before the second. The heap holds entries.
    std::int32_t lowestIndex() const noexcept {
        std::int32_t best = 0;
        std::int64_t bestKey = lowestKeys_[0];
        for (std::int32_t index = 1; index < top_; ++index) {
            const std::int64_t key = lowestKeys_[static_cast<std::size_t>(index)];
            // Without a branch: which bin wins is as good as random.
            best = key < bestKey ? index : best;
            bestKey = key < bestKey ? key : bestKey;
        }
        return best;
    }

    // Takes the lowest entry of an occupied bin, clearing its slot.
    V dropLowest(std::int32_t index) {
        SortedBin& held = bin(index);
        Entry& lowest = held.at(held.lowPointer);
        V value = lowest.value;
        if (++held.lowPointer < held.binSize) {
            lowestKeys_[static_cast<std::size_t>(index)] = held.lowestKey();
        } else {
            lowestKeys_[static_cast<std::size_t>(index)] = EMPTY;
            while (top_ > 0 && lowestKeys_[static_cast<std::size_t>(top_ - 1)] == EMPTY) --top_;
        }
        return value;
    }

    // Both small bins are full: merge them and the occupied bins up to the first
    // bin large enough for all of them into that bin.
    void mergeUpwards() {
        std::int32_t count = 8;
        std::int32_t lastOccupied = 1;
        std::int32_t target = 1;
        do {
            ++target;
            if (!bins_[static_cast<std::size_t>(target)]) {
                const std::int32_t size = bin(target - 1).binSize;
                if (size > (1 << 29)) {
                    throw jcompat::IllegalStateException("open set cannot grow beyond 2^30 entries");
                }
                bins_[static_cast<std::size_t>(target)] = std::make_unique<SortedBin>(size * 2);
            }
            if (bin(target).count() > 0) {
                count += bin(target).count();
                lastOccupied = target;
            }
        } while (bin(target).binSize < count);

        // The entries in the order in which popping would give them: by key,
        // equal keys from the smaller bin first, then in bin order. A stable
        // merge of each bin after those before it gives just that; the last
        // (and largest) bin is merged straight into the target.
        merged_.size = 0;
        for (std::int32_t index = 0; index < lastOccupied; ++index) {
            SortedBin& from = bin(index);
            if (from.count() == 0) continue;
            const std::size_t size = merged_.size + static_cast<std::size_t>(from.count());
            const Entry* begin = &from.at(from.lowPointer);
            mergeEntries(merged_.begin(), merged_.end(), begin, begin + from.count(), mergeScratch_.room(size));
            mergeScratch_.size = size;
            std::swap(merged_, mergeScratch_);
            from.empty();
            lowestKeys_[static_cast<std::size_t>(index)] = EMPTY;
        }
        mergeInto(bin(target), bin(lastOccupied), count);
        lowestKeys_[static_cast<std::size_t>(lastOccupied)] = EMPTY;
        lowestKeys_[static_cast<std::size_t>(target)] = bin(target).lowestKey();
        if (top_ <= target) top_ = target + 1;
    }

    // Merges two runs sorted by key into out, the first run's entries first
    // among equal keys.
    static Entry* mergeEntries(const Entry* first, const Entry* firstEnd, const Entry* second, const Entry* secondEnd,
                               Entry* out) {
        while (first != firstEnd && second != secondEnd) {
            // Which run goes on is as good as random: a select, not a branch.
            const bool fromSecond = second->key < first->key;
            *out++ = *selectPointer(fromSecond, second, first);
            second += fromSecond;
            first += !fromSecond;
        }
        out = std::copy(first, firstEnd, out);
        return std::copy(second, secondEnd, out);
    }

    // Merges the entries merged so far, then those of last, into the lowest
    // count slots of target. Last may be the target itself: the write
    // position never passes the one it reads from.
    void mergeInto(SortedBin& target, SortedBin& last, std::int32_t count) {
        Entry* out = &target.at(target.binSize - count);
        const Entry* read = &last.at(last.lowPointer);
        const Entry* readEnd = read + last.count();
        if (&last == &target) {
            // Once the merged entries are out, the rest of last is in place already.
            const Entry* merged = merged_.begin();
            const Entry* const mergedEnd = merged_.end();
            while (merged != mergedEnd && read != readEnd) {
                const bool fromLast = read->key < merged->key;
                *out++ = *selectPointer(fromLast, read, merged);
                read += fromLast;
                merged += !fromLast;
            }
            std::copy(merged, mergedEnd, out);
        } else {
            mergeEntries(merged_.begin(), merged_.end(), read, readEnd, out);
            last.empty();
        }
        target.lowPointer = target.binSize - count;
    }

    std::int32_t size_ = 0;
    // Scratch space of the merges, kept between them. Every entry is written
    // before it is read: growing it need not clear it.
    struct Run {
        std::unique_ptr<Entry[]> entries;
        std::size_t capacity = 0;
        std::size_t size = 0;

        Entry* room(std::size_t wanted) {
            if (capacity < wanted) {
                capacity = std::max(wanted, 2 * capacity);
                entries.reset(new Entry[capacity]);
            }
            return entries.get();
        }
        const Entry* begin() const noexcept { return entries.get(); }
        const Entry* end() const noexcept { return entries.get() + size; }
    };
    Run merged_;
    Run mergeScratch_;
    std::array<std::unique_ptr<SortedBin>, MAX_BINS> bins_;
    // Each bin's lowest key, EMPTY for a bin without entries; the bins from
    // top_ on have none.
    std::array<std::int64_t, MAX_BINS> lowestKeys_{};
    std::int32_t top_ = 0;
};

} // namespace ferrow::util
