#include "mapaccess/DecodedTileCache.h"

#include <algorithm>
#include <cstring>

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
    // A tile ends in its checksum: its last bytes and its length tell tiles
    // apart as well as all its bytes would, and the match compares them all.
    std::uint64_t tail = 0;
    const std::size_t tailLength = std::min<std::size_t>(tileBytes.size(), sizeof tail);
    if (tailLength > 0) std::memcpy(&tail, tileBytes.data() + (tileBytes.size() - tailLength), tailLength);
    std::size_t hash = static_cast<std::size_t>(tail);
    for (const std::uint64_t part : {static_cast<std::uint64_t>(tileBytes.size()),
                                     static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.lonIdx)),
                                     static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.latIdx)),
                                     static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.tilesPerDegree))}) {
        hash = (hash ^ part) * 0x9E3779B97F4A7C15ULL;
        hash ^= hash >> 29;
    }
    return hash;
}

std::size_t DecodedTileCache::hashOf(const Source& source) {
    std::size_t hash = 0;
    for (const std::uint64_t part :
         {source.file.device, source.file.inode, static_cast<std::uint64_t>(source.file.changedNanos),
          static_cast<std::uint64_t>(source.offset), static_cast<std::uint64_t>(source.size)}) {
        hash = (hash ^ part) * 0x9E3779B97F4A7C15ULL;
        hash ^= hash >> 29;
    }
    return hash;
}

void DecodedTileCache::unindex(Index& index, std::size_t hash, const Entry& entry) {
    const auto [first, last] = index.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (&*it->second == &entry) {
            index.erase(it);
            return;
        }
    }
}

void DecodedTileCache::placeAt(Lru::iterator entry, const Source& source) {
    if (entry->source == source) return;
    if (entry->source) unindex(bySource_, hashOf(*entry->source), *entry);
    bySource_.emplace(hashOf(source), entry);
    entry->source = source;
}

bool DecodedTileCache::matches(const Entry& entry, const Key& key, std::span<const util::Byte> tileBytes) {
    return entry.key == key &&
           std::equal(entry.tileBytes.begin(), entry.tileBytes.end(), tileBytes.begin(), tileBytes.end());
}

std::shared_ptr<const DecodedTile> DecodedTileCache::find(const Key& key, std::span<const util::Byte> tileBytes,
                                                          const Source* source) {
    const std::size_t hash = hashOf(key, tileBytes);
    const auto [first, last] = index_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (matches(*it->second, key, tileBytes)) {
            entries_.splice(entries_.begin(), entries_, it->second);
            if (source != nullptr) placeAt(it->second, *source);
            return it->second->tile;
        }
    }
    return nullptr;
}

std::shared_ptr<const DecodedTile> DecodedTileCache::find(const Key& key, const Source& source) {
    const auto [first, last] = bySource_.equal_range(hashOf(source));
    for (auto it = first; it != last; ++it) {
        const Entry& entry = *it->second;
        if (entry.source == source && entry.key == key) {
            entries_.splice(entries_.begin(), entries_, it->second);
            return entry.tile;
        }
    }
    return nullptr;
}

void DecodedTileCache::insert(const Key& key, std::span<const util::Byte> tileBytes,
                              std::shared_ptr<const DecodedTile> tile, const Source* source) {
    const std::size_t bytes = tile->byteSize() + tileBytes.size() + sizeof(Entry);
    const std::size_t hash = hashOf(key, tileBytes);
    // Everything is allocated before anything is counted or evicted: a failed
    // allocation leaves the cache and its count as they were. List iterators
    // stay valid when the entry is spliced over.
    Lru fresh;
    fresh.push_front(Entry{key, hash, std::vector<util::Byte>(tileBytes.begin(), tileBytes.end()), std::move(tile),
                           bytes, std::nullopt});
    const auto indexed = index_.emplace(hash, fresh.begin());
    if (!memory_->keepMakingRoom(bytes, [this] { return evictOldest(); })) {
        index_.erase(indexed);
        return;
    }
    entries_.splice(entries_.begin(), fresh);
    bytes_ += bytes;
    if (source != nullptr) placeAt(entries_.begin(), *source);
}

bool DecodedTileCache::evictOldest() {
    if (entries_.empty()) return false;
    const Entry& oldest = entries_.back();
    unindex(index_, oldest.hash, oldest);
    if (oldest.source) unindex(bySource_, hashOf(*oldest.source), oldest);
    bytes_ -= oldest.bytes;
    memory_->let(oldest.bytes);
    entries_.pop_back();
    return true;
}

void DecodedTileCache::clear() {
    index_.clear();
    bySource_.clear();
    entries_.clear();
    memory_->let(bytes_);
    bytes_ = 0;
}

} // namespace ferrow::mapaccess
