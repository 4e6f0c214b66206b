#include "util/LruMap.h"

#include <string>

#include "jcompat/Exceptions.h"

namespace ferrow::util {

LruMap::LruMap(std::int32_t binCount, std::int32_t maxSize) : maxSize_(maxSize) {
    if (binCount < 1) {
        throw jcompat::IllegalArgumentException("LruMap needs at least one bin, not " + std::to_string(binCount));
    }
    bins_.assign(static_cast<std::size_t>(binCount), nullptr);
}

LruMapNode* LruMap::removeLru() {
    if (size_ < maxSize_ || lru_ == nullptr) {
        return nullptr;
    }
    LruMapNode* entry = lru_;
    LruMapNode** link = &bins_[binOf(entry->hashCode())];
    while (*link != entry) {
        if (*link == nullptr) {
            throw jcompat::IllegalStateException("LruMap entry changed its hash while in the map");
        }
        link = &(*link)->nextInBin_;
    }
    *link = entry->nextInBin_;

    lru_ = entry->next_;
    if (lru_ != nullptr) {
        lru_->previous_ = nullptr;
    } else {
        mru_ = nullptr;
    }
    --size_;
    return entry;
}

void LruMap::put(LruMapNode* entry) {
    LruMapNode*& head = bins_[binOf(entry->hashCode())];
    entry->nextInBin_ = head;
    head = entry;

    entry->previous_ = mru_;
    entry->next_ = nullptr;
    if (mru_ != nullptr) {
        mru_->next_ = entry;
    } else {
        lru_ = entry;
    }
    mru_ = entry;
    ++size_;
}

} // namespace ferrow::util
