#include "mapaccess/OsmNodePairSet.h"

namespace ferrow::mapaccess {

OsmNodePairSet::OsmNodePairSet(std::int32_t capacity)
    : stagedFirst_(static_cast<std::size_t>(capacity > 0 ? capacity : 0)),
      stagedSecond_(static_cast<std::size_t>(capacity > 0 ? capacity : 0)) {}

void OsmNodePairSet::addTempPair(std::int64_t first, std::int64_t second) {
    if (static_cast<std::size_t>(stagedCount_) < stagedFirst_.size()) {
        stagedFirst_[static_cast<std::size_t>(stagedCount_)] = first;
        stagedSecond_[static_cast<std::size_t>(stagedCount_)] = second;
        ++stagedCount_;
    }
}

void OsmNodePairSet::freezeTempPairs() {
    ++freezeCount_;
    for (std::int32_t i = 0; i < stagedCount_; ++i) {
        const std::int64_t first = stagedFirst_[static_cast<std::size_t>(i)];
        const std::int64_t second = stagedSecond_[static_cast<std::size_t>(i)];
        if (frozen_ == nullptr) {
            frozen_ = std::make_unique<util::CompactLongMap<std::int32_t>>();
        }
        ++pairCount_;
        if (hasOrderedPair(first, second)) {
            continue;
        }
        const auto index = static_cast<std::int32_t>(entries_.size());
        entries_.push_back(Entry{second, NO_ENTRY});
        const std::int32_t head = frozen_->get(first) - 1;
        if (head == NO_ENTRY) {
            frozen_->fastPut(first, index + 1);
            continue;
        }
        std::int32_t last = head;
        while (entries_[static_cast<std::size_t>(last)].next != NO_ENTRY) {
            last = entries_[static_cast<std::size_t>(last)].next;
        }
        entries_[static_cast<std::size_t>(last)].next = index;
    }
    stagedCount_ = 0;
}

bool OsmNodePairSet::hasOrderedPair(std::int64_t first, std::int64_t second) const {
    for (std::int32_t e = frozen_->get(first) - 1; e != NO_ENTRY; e = entries_[static_cast<std::size_t>(e)].next) {
        if (entries_[static_cast<std::size_t>(e)].second == second) {
            return true;
        }
    }
    return false;
}

bool OsmNodePairSet::hasPair(std::int64_t first, std::int64_t second) const {
    if (frozen_ == nullptr) {
        return false;
    }
    return hasOrderedPair(first, second) || hasOrderedPair(second, first);
}

} // namespace ferrow::mapaccess
