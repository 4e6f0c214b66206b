#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "mapaccess/DecodedTile.h"
#include "util/ByteArray.h"
#include "util/RetainedMemory.h"

namespace ferrow::mapaccess {

// The process's decoded tiles, so that a tile is decoded once and not once
// per search. A tile is found by what alone decides its decoding: its bytes
// (a segment file replaced on disk gives other bytes) and its place (the
// origin of its node positions). It keeps tiles within the process's
// retained-memory bound: spare pool chunks make room first, then the least
// recently used tiles leave.
//
// Like every object of a request it is used by one thread at a time.
class DecodedTileCache {
public:
    struct Key {
        std::int32_t lonIdx;
        std::int32_t latIdx;
        std::int32_t tilesPerDegree;
    };

    explicit DecodedTileCache(util::RetainedMemory& memory = util::RetainedMemory::instance()) : memory_(&memory) {}
    ~DecodedTileCache() { clear(); }
    DecodedTileCache(const DecodedTileCache&) = delete;
    DecodedTileCache& operator=(const DecodedTileCache&) = delete;

    // The process-wide cache.
    static DecodedTileCache& instance();

    // The tile decoded from these bytes under this key, or null.
    std::shared_ptr<const DecodedTile> find(const Key& key, std::span<const util::Byte> tileBytes);
    // Keeps a tile decoded from these bytes, unless it alone exceeds the bound.
    void insert(const Key& key, std::span<const util::Byte> tileBytes, std::shared_ptr<const DecodedTile> tile);

    std::size_t size() const noexcept { return entries_.size(); }
    std::size_t byteCount() const noexcept { return bytes_; }
    void clear();

private:
    struct Entry {
        Key key;
        std::size_t hash;
        std::vector<util::Byte> tileBytes;
        std::shared_ptr<const DecodedTile> tile;
        std::size_t bytes;
    };
    using Lru = std::list<Entry>;

    static std::size_t hashOf(const Key& key, std::span<const util::Byte> tileBytes);
    // Makes room for bytes more in the bound; false when even an empty cache has none.
    bool makeRoom(std::size_t bytes);
    void evictOldest();
    static bool matches(const Entry& entry, const Key& key, std::span<const util::Byte> tileBytes);

    util::RetainedMemory* memory_;
    std::size_t bytes_ = 0;
    // Most recently used first.
    Lru entries_;
    std::unordered_multimap<std::size_t, Lru::iterator> index_;
};

} // namespace ferrow::mapaccess
