#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "jcompat/RandomAccessFile.h"
#include "mapaccess/DecodedTile.h"
#include "util/ByteArray.h"
#include "util/RetainedMemory.h"

namespace ferrow::mapaccess {

// The process's decoded tiles, so that a tile is decoded once and not once
// per search. A tile is found by what alone decides its decoding: its bytes
// (a segment file replaced on disk gives other bytes) and its place (the
// origin of its node positions). Where its bytes came from a settled file
// version, it is found by that place in the file too, without the bytes
// being read again. It keeps tiles within the process's retained-memory
// bound: spare pool chunks make room first, then the least recently used
// tiles leave.
//
// Like every object of a request it is used by one thread at a time.
class DecodedTileCache {
public:
    struct Key {
        std::int32_t lonIdx;
        std::int32_t latIdx;
        std::int32_t tilesPerDegree;

        bool operator==(const Key&) const = default;
    };

    // Where a tile's bytes lie: in a settled version of a file, at an offset.
    struct Source {
        jcompat::FileVersion file;
        std::int64_t offset;
        std::int32_t size;

        bool operator==(const Source&) const = default;
    };

    explicit DecodedTileCache(util::RetainedMemory& memory = util::RetainedMemory::instance()) : memory_(&memory) {}
    ~DecodedTileCache() { clear(); }
    DecodedTileCache(const DecodedTileCache&) = delete;
    DecodedTileCache& operator=(const DecodedTileCache&) = delete;

    // The process-wide cache.
    static DecodedTileCache& instance();

    // The tile decoded from these bytes under this key, or null. A source
    // given is where the bytes were read: the tile is found there from now on.
    std::shared_ptr<const DecodedTile> find(const Key& key, std::span<const util::Byte> tileBytes,
                                            const Source* source = nullptr);
    // The tile under this key whose bytes were last read from source, or null.
    std::shared_ptr<const DecodedTile> find(const Key& key, const Source& source);
    // Keeps a tile decoded from these bytes (read from source, when given),
    // unless it alone exceeds the bound.
    void insert(const Key& key, std::span<const util::Byte> tileBytes, std::shared_ptr<const DecodedTile> tile,
                const Source* source = nullptr);

    std::size_t size() const noexcept { return entries_.size(); }
    std::size_t byteCount() const noexcept { return bytes_; }
    // Tiles found by where their bytes lie as well.
    std::size_t placedCount() const noexcept { return bySource_.size(); }
    void clear();

private:
    struct Entry {
        Key key;
        std::size_t hash;
        std::vector<util::Byte> tileBytes;
        std::shared_ptr<const DecodedTile> tile;
        std::size_t bytes;
        // Where its bytes were last read, when that was a settled file version.
        std::optional<Source> source;
    };
    using Lru = std::list<Entry>;
    using Index = std::unordered_multimap<std::size_t, Lru::iterator>;

    static std::size_t hashOf(const Key& key, std::span<const util::Byte> tileBytes);
    static std::size_t hashOf(const Source& source);
    static void unindex(Index& index, std::size_t hash, const Entry& entry);
    // Finds entry at source from now on (and no longer at its earlier source).
    void placeAt(Lru::iterator entry, const Source& source);
    // Lets go of the least recently used entry; false when there is none.
    bool evictOldest();
    static bool matches(const Entry& entry, const Key& key, std::span<const util::Byte> tileBytes);

    util::RetainedMemory* memory_;
    std::size_t bytes_ = 0;
    // Most recently used first.
    Lru entries_;
    Index index_;
    Index bySource_;
};

} // namespace ferrow::mapaccess
