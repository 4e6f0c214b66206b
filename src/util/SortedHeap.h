#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {

// The open set of the path search: a priority queue of values keyed by signed
// 32-bit integers, built from sorted bins whose sizes double (4, 4, 8, 16, ...).
// New entries go into the two 4-slot bins by insertion sort; when both are full,
// they and the occupied bins up to the first large enough one are merged into
// that bin in one pass. Popping compares only the lowest keys of occupied bins.
//
// The tie order is part of the contract (it decides which of equal-cost routes
// is found): within a bin an entry added earlier comes first, and among bins
// with equal lowest keys the one nearer the head of the occupied list (the
// smaller bins, holding newer entries) wins.
//
// Values are not owned: V is a pointer or another small value, V{} meaning none.
template <typename V>
class SortedHeap {
public:
    SortedHeap() { clear(); }

    SortedHeap(const SortedHeap&) = delete;
    SortedHeap& operator=(const SortedHeap&) = delete;

    // Empties the heap. The bins stay for the next search, so that it does
    // not allocate them again.
    void clear() {
        size_ = 0;
        if (!first_) {
            first_ = std::make_unique<SortedBin>(4);
            second_ = std::make_unique<SortedBin>(4);
        }
        for (SortedBin* bin = occupied_; bin != nullptr;) {
            SortedBin* next = bin->nextOccupied;
            bin->empty();
            bin = next;
        }
        occupied_ = nullptr;
    }

    void add(std::int32_t key, V value) {
        ++size_;
        if (first_->lowPointer == 0 && second_->lowPointer == 0) {
            mergeUpwards();
        }
        SortedBin* first = first_.get();
        if (first->lowPointer > 0) {
            first->add4(key, std::move(value));
            if (occupied_ != first) {
                first->nextOccupied = occupied_;
                occupied_ = first;
            }
        } else {
            SortedBin* second = second_.get();
            second->add4(key, std::move(value));
            if (first->nextOccupied != second) {
                second->nextOccupied = first->nextOccupied;
                first->nextOccupied = second;
            }
        }
    }

    // Removes and returns a value with the lowest key; V{} when the heap is empty.
    V popLowest() {
        if (occupied_ == nullptr) {
            return V{};
        }
        --size_;
        return dropLowest(lowestBin());
    }

    std::int32_t size() const noexcept { return size_; }

private:
    struct SortedBin {
        explicit SortedBin(std::int32_t size)
            : keys(static_cast<std::size_t>(size)),
              values(static_cast<std::size_t>(size)),
              binSize(size),
              lowPointer(size) {}

        std::int32_t entries() const noexcept { return binSize - lowPointer; }

        // Drops the entries and leaves the occupied list.
        void empty() {
            std::fill(values.begin() + lowPointer, values.end(), V{});
            lowPointer = binSize;
            nextOccupied = nullptr;
        }

        // Insertion into a 4-slot bin with a free slot: the entries with keys up
        // to the new one move down a slot, so equal keys keep their order.
        void add4(std::int32_t key, V value) {
            const std::int32_t low = --lowPointer;
            std::int32_t slot = low;
            while (slot < 3 && keys[static_cast<std::size_t>(slot) + 1] <= key) {
                keys[static_cast<std::size_t>(slot)] = keys[static_cast<std::size_t>(slot) + 1];
                values[static_cast<std::size_t>(slot)] = std::move(values[static_cast<std::size_t>(slot) + 1]);
                ++slot;
            }
            keys[static_cast<std::size_t>(slot)] = key;
            values[static_cast<std::size_t>(slot)] = std::move(value);
            lowestKey = keys[static_cast<std::size_t>(low)];
        }

        std::vector<std::int32_t> keys;
        std::vector<V> values;
        std::int32_t binSize;
        std::int32_t lowPointer; // lowest occupied slot; binSize when empty
        std::int32_t lowestKey = 0;
        SortedBin* nextOccupied = nullptr;
        std::unique_ptr<SortedBin> nextBigger;
    };

    // The occupied bin with the smallest lowest key among the head and up to 31
    // further bins; on equal keys the one nearer the head.
    SortedBin* lowestBin() const noexcept {
        SortedBin* best = occupied_;
        SortedBin* bin = best->nextOccupied;
        for (int compared = 0; bin != nullptr && compared < 31; ++compared, bin = bin->nextOccupied) {
            if (bin->lowestKey < best->lowestKey) {
                best = bin;
            }
        }
        return best;
    }

    // Takes the lowest entry of an occupied bin, clearing its slot; an emptied
    // bin leaves the occupied list.
    V dropLowest(SortedBin* bin) {
        const auto low = static_cast<std::size_t>(bin->lowPointer);
        V value = std::move(bin->values[low]);
        bin->values[low] = V{};
        if (++bin->lowPointer < bin->binSize) {
            bin->lowestKey = bin->keys[low + 1];
        } else {
            unlinkOccupied(bin);
        }
        return value;
    }

    void unlinkOccupied(SortedBin* bin) noexcept {
        SortedBin** link = &occupied_;
        while (*link != bin) {
            link = &(*link)->nextOccupied;
        }
        *link = bin->nextOccupied;
        bin->nextOccupied = nullptr;
    }

    // Both small bins are full: merge them and the occupied bins up to the first
    // bin large enough for all of them into that bin.
    void mergeUpwards() {
        std::int32_t count = 8;
        SortedBin* lastOccupied = second_.get();
        SortedBin* target = second_.get();
        do {
            if (!target->nextBigger) {
                if (target->binSize > (1 << 29)) {
                    throw jcompat::IllegalStateException("open set cannot grow beyond 2^30 entries");
                }
                target->nextBigger = std::make_unique<SortedBin>(target->binSize * 2);
            }
            target = target->nextBigger.get();
            if (target->entries() > 0) {
                count += target->entries();
                lastOccupied = target;
            }
        } while (target->binSize < count);

        // The rest of the list holds only bins larger than the target.
        SortedBin* remainder = lastOccupied->nextOccupied;
        lastOccupied->nextOccupied = nullptr;

        // The entries in the order in which popping would give them: by key,
        // equal keys from the bin nearer the head first, then in bin order. A
        // stable merge of each bin after those before it gives just that.
        merged_.clear();
        for (SortedBin* bin = occupied_; bin != nullptr;) {
            SortedBin* next = bin->nextOccupied;
            mergeScratch_.clear();
            auto entry = merged_.begin();
            for (std::int32_t i = bin->lowPointer; i < bin->binSize; ++i) {
                const std::int32_t key = bin->keys[static_cast<std::size_t>(i)];
                while (entry != merged_.end() && entry->first <= key) mergeScratch_.push_back(std::move(*entry++));
                mergeScratch_.emplace_back(key, std::move(bin->values[static_cast<std::size_t>(i)]));
            }
            std::move(entry, merged_.end(), std::back_inserter(mergeScratch_));
            merged_.swap(mergeScratch_);
            bin->empty();
            bin = next;
        }
        std::int32_t write = target->binSize - count;
        for (auto& [key, value] : merged_) {
            target->keys[static_cast<std::size_t>(write)] = key;
            target->values[static_cast<std::size_t>(write)] = std::move(value);
            ++write;
        }
        target->lowPointer = target->binSize - count;
        target->lowestKey = target->keys[static_cast<std::size_t>(target->lowPointer)];
        target->nextOccupied = remainder;
        occupied_ = target;
    }

    std::int32_t size_ = 0;
    // Scratch space of the merges, kept between them.
    std::vector<std::pair<std::int32_t, V>> merged_;
    std::vector<std::pair<std::int32_t, V>> mergeScratch_;
    std::unique_ptr<SortedBin> first_;
    std::unique_ptr<SortedBin> second_; // heads the chain of bigger bins
    SortedBin* occupied_ = nullptr;     // head of the list of bins holding entries
};

} // namespace ferrow::util
