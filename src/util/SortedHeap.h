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
        for (SortedBin* bin = occupied_; bin != nullptr;) {
            SortedBin* next = bin->nextOccupied;
            bin->empty();
            bin = next;
        }
        occupied_ = nullptr;
    }

    void add(std::int32_t key, V value) {
        ++size_;
        if (first_.lowPointer == 0 && second_.lowPointer == 0) {
            mergeUpwards();
        }
        if (first_.lowPointer > 0) {
            first_.add4(key, std::move(value));
            if (occupied_ != &first_) {
                first_.nextOccupied = occupied_;
                occupied_ = &first_;
            }
        } else {
            second_.add4(key, std::move(value));
            if (first_.nextOccupied != &second_) {
                second_.nextOccupied = first_.nextOccupied;
                first_.nextOccupied = &second_;
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

    // Calls visit with every value held, in no particular order.
    template <typename Visit>
    void forEachValue(Visit&& visit) const {
        for (const SortedBin* bin = occupied_; bin != nullptr; bin = bin->nextOccupied) {
            for (std::int32_t slot = bin->lowPointer; slot < bin->binSize; ++slot) {
                visit(bin->entries[static_cast<std::size_t>(slot)].value);
            }
        }
    }

private:
    // Key and value side by side: taking the lowest entry reads one place.
    struct Entry {
        std::int32_t key;
        V value;
    };

    struct SortedBin {
        explicit SortedBin(std::int32_t size)
            : entries(std::make_unique<Entry[]>(static_cast<std::size_t>(size))), binSize(size), lowPointer(size) {}

        std::int32_t count() const noexcept { return binSize - lowPointer; }
        Entry& at(std::int32_t slot) noexcept { return entries[static_cast<std::size_t>(slot)]; }

        // Drops the entries and leaves the occupied list.
        void empty() {
            for (std::int32_t slot = lowPointer; slot < binSize; ++slot) at(slot).value = V{};
            lowPointer = binSize;
            nextOccupied = nullptr;
        }

        // Insertion into a 4-slot bin with a free slot: the entries with keys up
        // to the new one move down a slot, so equal keys keep their order.
        void add4(std::int32_t key, V value) {
            const std::int32_t low = --lowPointer;
            std::int32_t slot = low;
            while (slot < 3 && at(slot + 1).key <= key) {
                at(slot) = std::move(at(slot + 1));
                ++slot;
            }
            at(slot) = Entry{key, std::move(value)};
            lowestKey = at(low).key;
        }

        std::unique_ptr<Entry[]> entries;
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
        Entry& lowest = bin->at(bin->lowPointer);
        V value = std::move(lowest.value);
        lowest.value = V{};
        if (++bin->lowPointer < bin->binSize) {
            bin->lowestKey = bin->at(bin->lowPointer).key;
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
        SortedBin* lastOccupied = &second_;
        SortedBin* target = &second_;
        do {
            if (!target->nextBigger) {
                if (target->binSize > (1 << 29)) {
                    throw jcompat::IllegalStateException("open set cannot grow beyond 2^30 entries");
                }
                target->nextBigger = std::make_unique<SortedBin>(target->binSize * 2);
            }
            target = target->nextBigger.get();
            if (target->count() > 0) {
                count += target->count();
                lastOccupied = target;
            }
        } while (target->binSize < count);

        // The rest of the list holds only bins larger than the target.
        SortedBin* remainder = lastOccupied->nextOccupied;
        lastOccupied->nextOccupied = nullptr;

        // The entries in the order in which popping would give them: by key,
        // equal keys from the bin nearer the head first, then in bin order. A
        // stable merge of each bin after those before it gives just that; the
        // last (and largest) bin is merged straight into the target.
        const auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
        merged_.clear();
        for (SortedBin* bin = occupied_; bin != lastOccupied;) {
            SortedBin* next = bin->nextOccupied;
            Entry* begin = &bin->at(bin->lowPointer);
            Entry* end = begin + bin->count();
            mergeScratch_.resize(merged_.size() + static_cast<std::size_t>(bin->count()));
            std::merge(std::make_move_iterator(merged_.begin()), std::make_move_iterator(merged_.end()),
                       std::make_move_iterator(begin), std::make_move_iterator(end), mergeScratch_.begin(), byKey);
            merged_.swap(mergeScratch_);
            bin->empty();
            bin = next;
        }
        mergeInto(*target, *lastOccupied, count);
        target->nextOccupied = remainder;
        occupied_ = target;
    }

    // Merges the entries merged so far, then those of last, into the lowest
    // count slots of target. Last may be the target itself: the write
    // position never passes the one it reads from.
    void mergeInto(SortedBin& target, SortedBin& last, std::int32_t count) {
        std::int32_t write = target.binSize - count;
        std::int32_t read = last.lowPointer;
        auto from = merged_.begin();
        while (from != merged_.end() && read < last.binSize) {
            if (last.at(read).key < from->key) {
                target.at(write++) = std::move(last.at(read++));
            } else {
                target.at(write++) = std::move(*from++);
            }
        }
        while (from != merged_.end()) target.at(write++) = std::move(*from++);
        if (&last != &target) {
            while (read < last.binSize) target.at(write++) = std::move(last.at(read++));
            last.empty();
        }
        target.lowPointer = target.binSize - count;
        target.lowestKey = target.at(target.lowPointer).key;
    }

    std::int32_t size_ = 0;
    // Scratch space of the merges, kept between them.
    std::vector<Entry> merged_;
    std::vector<Entry> mergeScratch_;
    SortedBin first_{4};
    SortedBin second_{4};           // heads the chain of bigger bins
    SortedBin* occupied_ = nullptr; // head of the list of bins holding entries
};

} // namespace ferrow::util
