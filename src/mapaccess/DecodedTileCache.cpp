#include "mapaccess/DecodedTileCache.h"

#include <algorithm>
#include <string_view>

#include "util/ProcessState.h"

namespace ferrow::mapaccess {

DecodedTileCache& DecodedTileCache::instance() {
    static DecodedTileCache& cache = []() -> DecodedTileCache& {
        static DecodedTileCache tiles;
        util::ProcessState::enrol([] { tiles.clear(); });
        return tiles;
    }();
    return cache;
}

std::size_t DecodedTileCache::hashOf(const Key& key, std::span<const util::Byte> tileBytes) {
    const std::string_view bytes(reinterpret_cast<const char*>(tileBytes.data()), tileBytes.size());
    std::size_t hash = std::hash<std::string_view>{}(bytes);
    for (const std::uint64_t part : {static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.lonIdx)),
                                     static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.latIdx)),
                                     static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.tilesPerDegree))}) {
        hash = (hash ^ part) * 0x9E3779B97F4A7C15ULL;
        hash ^= hash >> 29;
    }
    return hash;
}

bool DecodedTileCache::matches(const Entry& entry, const Key& key, std::span<const util::Byte> tileBytes) {
    return entry.key.lonIdx == key.lonIdx && entry.key.latIdx == key.latIdx &&
           entry.key.tilesPerDegree == key.tilesPerDegree &&
           std::equal(entry.tileBytes.begin(), entry.tileBytes.end(), tileBytes.begin(), tileBytes.end());
}

std::shared_ptr<const DecodedTile> DecodedTileCache::find(const Key& key, std::span<const util::Byte> tileBytes) {
    const std::size_t hash = hashOf(key, tileBytes);
    const auto [first, last] = index_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (matches(*it->second, key, tileBytes)) {
            entries_.splice(entries_.begin(), entries_, it->second);
            return it->second->tile;
        }
    }
    return nullptr;
}

void DecodedTileCache::insert(const Key& key, std::span<const util::Byte> tileBytes,
                              std::shared_ptr<const DecodedTile> tile) {
    const std::size_t bytes = tile->byteSize() + tileBytes.size() + sizeof(Entry);
    const std::size_t hash = hashOf(key, tileBytes);
    // Everything is allocated before anything is counted or evicted: a failed
    // allocation leaves the cache and its count as they were. List iterators
    // stay valid when the entry is spliced over.
    Lru fresh;
    fresh.push_front(
        Entry{key, hash, std::vector<util::Byte>(tileBytes.begin(), tileBytes.end()), std::move(tile), bytes});
    const auto indexed = index_.emplace(hash, fresh.begin());
    if (!makeRoom(bytes)) {
        index_.erase(indexed);
        return;
    }
    entries_.splice(entries_.begin(), fresh);
    bytes_ += bytes;
}

bool DecodedTileCache::makeRoom(std::size_t bytes) {
    if (memory_->tryKeep(bytes)) return true;
    // A tile the whole bound cannot hold is not kept; nothing else makes way for it.
    if (bytes > memory_->bound()) return false;
    memory_->shedChunks();
    while (!memory_->tryKeep(bytes)) {
        if (entries_.empty()) return false;
        evictOldest();
    }
    return true;
}

void DecodedTileCache::evictOldest() {
    const Entry& oldest = entries_.back();
    const auto [first, last] = index_.equal_range(oldest.hash);
    for (auto it = first; it != last; ++it) {
        if (&*it->second == &oldest) {
            index_.erase(it);
            break;
        }
    }
    bytes_ -= oldest.bytes;
    memory_->let(oldest.bytes);
    entries_.pop_back();
}

void DecodedTileCache::clear() {
    index_.clear();
    entries_.clear();
    memory_->let(bytes_);
    bytes_ = 0;
}

} // namespace ferrow::mapaccess
