#pragma once

#include <cstdint>
#include <vector>

namespace ferrow::util {

// An entry of an LruMap. Subclasses carry the payload and say when two entries
// are equal; the hash is stored by the owner before the entry is put and must
// not change while the entry is in a map. The link fields belong to the map.
class LruMapNode {
public:
    virtual ~LruMapNode() = default;

    // Whether this entry (used as the key of a look-up) matches other.
    virtual bool equals(const LruMapNode& other) const = 0;

    std::int32_t hashCode() const noexcept { return hash; }

    std::int32_t hash = 0;

protected:
    LruMapNode() = default;
    // A copy is a new entry: it takes the hash, never the links.
    LruMapNode(const LruMapNode& other) noexcept : hash(other.hash) {}
    LruMapNode& operator=(const LruMapNode& other) noexcept {
        hash = other.hash;
        return *this;
    }

private:
    friend class LruMap;

    LruMapNode* nextInBin_ = nullptr;
    LruMapNode* next_ = nullptr;     // towards the most recently used end
    LruMapNode* previous_ = nullptr; // towards the least recently used end
};

// A small intrusive hash map with a least-recently-used list. It neither owns
// nor allocates entries: the caller looks up with get, and on a miss takes an
// entry back with removeLru (once the map holds maxSize entries), refills it
// and puts it again, so the map never holds more than maxSize entries.
class LruMap {
public:
    // binCount must be at least 1.
    LruMap(std::int32_t binCount, std::int32_t maxSize);

    LruMap(const LruMap&) = delete;
    LruMap& operator=(const LruMap&) = delete;

    // The first entry of key's bin that key equals; the recency order is not touched.
    LruMapNode* get(const LruMapNode& key) const {
        for (LruMapNode* e = bins_[binOf(key.hash)]; e != nullptr; e = e->nextInBin_) {
            if (key.equals(*e)) {
                return e;
            }
        }
        return nullptr;
    }

    // Below maxSize entries: null, and nothing changes. Otherwise unlinks the
    // least recently used entry and hands it back for reuse.
    LruMapNode* removeLru();

    // Links an entry that is in no map as the most recently used one. It does
    // not look for an equal entry, nor enforce maxSize.
    void put(LruMapNode* entry);

    // Makes an entry of this map the most recently used one.
    void moveToMostRecent(LruMapNode* entry) noexcept {
        if (entry->next_ == nullptr) {
            return;
        }
        entry->next_->previous_ = entry->previous_;
        if (entry->previous_ != nullptr) {
            entry->previous_->next_ = entry->next_;
        } else {
            lru_ = entry->next_;
        }
        entry->previous_ = mru_;
        entry->next_ = nullptr;
        mru_->next_ = entry;
        mru_ = entry;
    }

    std::int32_t size() const noexcept { return size_; }

private:
    std::size_t binOf(std::int32_t hash) const noexcept {
        return (static_cast<std::uint32_t>(hash) & 0x0FFFFFFFU) % bins_.size();
    }

    std::vector<LruMapNode*> bins_;
    std::int32_t maxSize_;
    std::int32_t size_ = 0;
    LruMapNode* lru_ = nullptr;
    LruMapNode* mru_ = nullptr;
};

} // namespace ferrow::util
