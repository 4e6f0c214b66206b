#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "util/CompactLongMap.h"

namespace ferrow::mapaccess {

// A set of unordered node-identifier pairs (the engine's island pairs) with a
// staging area of fixed capacity: staged pairs count only once frozen.
class OsmNodePairSet {
public:
    explicit OsmNodePairSet(std::int32_t capacity);

    // Stages a pair; dropped without notice when the staging area is full.
    void addTempPair(std::int64_t first, std::int64_t second);
    void clearTempPairs() noexcept { stagedCount_ = 0; }
    // Moves the staged pairs into the set and counts the freeze.
    void freezeTempPairs();
    // Whether the pair was frozen, in either order.
    bool hasPair(std::int64_t first, std::int64_t second) const;

    // Staged pairs frozen so far, every one counted.
    std::int32_t size() const noexcept { return pairCount_; }
    std::int32_t getFreezeCount() const noexcept { return freezeCount_; }
    std::int32_t stagedCount() const noexcept { return stagedCount_; }

private:
    static constexpr std::int32_t NO_ENTRY = -1;

    struct Entry {
        std::int64_t second;
        std::int32_t next;
    };

    bool hasOrderedPair(std::int64_t first, std::int64_t second) const;

    std::vector<std::int64_t> stagedFirst_;
    std::vector<std::int64_t> stagedSecond_;
    std::int32_t stagedCount_ = 0;
    std::int32_t pairCount_ = 0;
    std::int32_t freezeCount_ = 0;
    // First identifier -> 1 + index of the head of its chain in entries_
    // (the map reads absent keys as 0).
    std::unique_ptr<util::CompactLongMap<std::int32_t>> frozen_;
    std::vector<Entry> entries_;
};

} // namespace ferrow::mapaccess
