#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ferrow::mapaccess {

class OsmNode;

// The node map's nodes by position identifier: one flat array of key and
// node pairs, probed linearly and at most half full. Weaving looks positions
// up and walks all entries for every tile, which here reads memory in order
// instead of chasing one allocation per entry.
//
// Iteration order is the slot order, which no caller may depend on.
class NodeTable {
public:
    using Entry = std::pair<std::int64_t, OsmNode*>;

    // Walks the taken slots only, in slot order: a table starts with 1024
    // slots, and weaving walks it for every tile while it holds a few hundred.
    class Iterator {
    public:
        Iterator(const NodeTable& table, std::size_t from) noexcept : table_(&table), at_(table.nextTaken(from)) {}
        const Entry& operator*() const noexcept { return table_->slots_[at_]; }
        const Entry* operator->() const noexcept { return &table_->slots_[at_]; }
        Iterator& operator++() noexcept {
            at_ = table_->nextTaken(at_ + 1);
            return *this;
        }
        bool operator==(const Iterator& other) const noexcept { return at_ == other.at_; }

    private:
        const NodeTable* table_;
        std::size_t at_;
    };

    // initialSlots: a power of two, at least 2.
    explicit NodeTable(std::size_t initialSlots = 1024)
        : slots_(initialSlots), taken_((initialSlots + 63) / 64), mask_(initialSlots - 1) {}

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    Iterator begin() const noexcept { return {*this, 0}; }
    Iterator end() const noexcept { return {*this, slots_.size()}; }

    OsmNode* find(std::int64_t id) const noexcept {
        for (std::size_t i = home(id);; i = (i + 1) & mask_) {
            const Entry& entry = slots_[i];
            if (entry.second == nullptr) return nullptr;
            if (entry.first == id) return entry.second;
        }
    }

    // Registers node (not null) under id; returns the node registered there before, or null.
    OsmNode* put(std::int64_t id, OsmNode* node) {
        if (2 * (size_ + 1) > slots_.size()) grow();
        for (std::size_t i = home(id);; i = (i + 1) & mask_) {
            Entry& entry = slots_[i];
            if (entry.second == nullptr) {
                entry = Entry{id, node};
                taken_[i / 64] |= std::uint64_t{1} << (i % 64);
                ++size_;
                return nullptr;
            }
            if (entry.first == id) return std::exchange(entry.second, node);
        }
    }

    void erase(std::int64_t id) noexcept {
        std::size_t i = home(id);
        for (;; i = (i + 1) & mask_) {
            if (slots_[i].second == nullptr) return;
            if (slots_[i].first == id) break;
        }
        // Moves later entries of the run back into the gap, so that probing
        // never needs markers of erased entries.
        for (std::size_t j = (i + 1) & mask_; slots_[j].second != nullptr; j = (j + 1) & mask_) {
            const std::size_t wanted = home(slots_[j].first);
            // Whether j's home lies cyclically outside (i, j]: then it may fill the gap at i.
            if (((j - wanted) & mask_) >= ((j - i) & mask_)) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Entry{0, nullptr};
        taken_[i / 64] &= ~(std::uint64_t{1} << (i % 64));
        --size_;
    }

private:
    std::size_t home(std::int64_t id) const noexcept {
        // Fibonacci hashing: the top bits of the product mix longitude and latitude.
        const std::uint64_t mixed = static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ULL;
        return static_cast<std::size_t>(mixed >> 32) & mask_;
    }

    void grow() {
        std::vector<Entry> old(slots_.size() * 2);
        old.swap(slots_);
        taken_.assign((slots_.size() + 63) / 64, 0);
        mask_ = slots_.size() - 1;
        size_ = 0;
        for (const Entry& entry : old) {
            if (entry.second != nullptr) put(entry.first, entry.second);
        }
    }

    // The first taken slot from slot from on, or the slot count.
    std::size_t nextTaken(std::size_t from) const noexcept {
        std::size_t word = from / 64;
        if (word >= taken_.size()) return slots_.size();
        std::uint64_t bits = taken_[word] & (~std::uint64_t{0} << (from % 64));
        while (bits == 0) {
            if (++word == taken_.size()) return slots_.size();
            bits = taken_[word];
        }
        return word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
    }

    std::vector<Entry> slots_;
    // One bit a slot: whether it is taken.
    std::vector<std::uint64_t> taken_;
    std::size_t mask_;
    std::size_t size_ = 0;
};

} // namespace ferrow::mapaccess
