#include "expressions/FilteredTagSetCache.h"

#include <algorithm>
#include <utility>

namespace ferrow::expressions {

const FilteredTagSetCache::Entry* FilteredTagSetCache::find(std::span<const std::int32_t> pairs,
                                                            std::uint64_t hash) const noexcept {
    if (slots_.empty()) return nullptr;
    for (std::size_t slot = hash & (kSlots - 1); slots_[slot] != 0; slot = (slot + 1) & (kSlots - 1)) {
        const Entry& entry = entries_[slots_[slot] - 1];
        if (entry.hash != hash) continue;
        const std::span<const std::int32_t> held = pairsOf(entry);
        if (std::equal(pairs.begin(), pairs.end(), held.begin(), held.end())) return &entry;
    }
    return nullptr;
}

const FilteredTagSetCache::Entry& FilteredTagSetCache::insert(std::span<const std::int32_t> pairs, std::uint64_t hash,
                                                              util::ByteArray tags, std::int32_t accessClass) {
    if (slots_.empty()) slots_.assign(kSlots, 0);
    if (entries_.size() == MAX_ENTRIES || pairs_.size() + pairs.size() > MAX_PAIRS) clear();
    entries_.push_back(Entry{hash, static_cast<std::uint32_t>(pairs_.size()), static_cast<std::uint32_t>(pairs.size()),
                             std::move(tags), accessClass});
    pairs_.insert(pairs_.end(), pairs.begin(), pairs.end());
    std::size_t slot = hash & (kSlots - 1);
    while (slots_[slot] != 0) slot = (slot + 1) & (kSlots - 1);
    slots_[slot] = static_cast<std::uint32_t>(entries_.size());
    return entries_.back();
}

void FilteredTagSetCache::clear() noexcept {
    entries_.clear();
    pairs_.clear();
    std::fill(slots_.begin(), slots_.end(), 0U);
}

} // namespace ferrow::expressions
