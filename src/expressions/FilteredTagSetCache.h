#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "util/ByteArray.h"

namespace ferrow::expressions {

// The way context's filtered tag sets, found by the raw pairs they came from,
// so that weaving a tile costs one look-up per distinct tag set instead of a
// re-coding and an evaluation. Holds at most MAX_ENTRIES sets of MAX_PAIRS
// pairs in all; a full cache starts over, which changes nothing but the time
// the next look-ups take.
class FilteredTagSetCache {
public:
    static constexpr std::size_t MAX_ENTRIES = std::size_t{1} << 14;
    static constexpr std::size_t MAX_PAIRS = std::size_t{1} << 18;

    struct Entry {
        std::uint64_t hash;
        std::uint32_t pairsOffset;
        std::uint32_t pairCount;
        util::ByteArray tags;
        // 2 usable, 1 forbidden but decodable, 0 never decoded.
        std::int32_t accessClass;
    };

    const Entry* find(std::span<const std::int32_t> pairs, std::uint64_t hash) const noexcept;
    const Entry& insert(std::span<const std::int32_t> pairs, std::uint64_t hash, util::ByteArray tags,
                        std::int32_t accessClass);
    void clear() noexcept;
    std::size_t size() const noexcept { return entries_.size(); }

private:
    static constexpr std::size_t kSlots = 2 * MAX_ENTRIES;

    std::span<const std::int32_t> pairsOf(const Entry& entry) const noexcept {
        return std::span<const std::int32_t>(pairs_).subspan(entry.pairsOffset, entry.pairCount);
    }

    std::vector<Entry> entries_;
    std::vector<std::int32_t> pairs_;
    // Open addressing: entry index + 1, 0 for a free slot; made on first insert.
    std::vector<std::uint32_t> slots_;
};

} // namespace ferrow::expressions
