#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "jcompat/RandomAccessFile.h"
#include "util/RetainedMemory.h"

namespace ferrow::mapaccess {

// The tile indexes of the sub-squares of settled segment files, read and
// checked once for the process instead of once per request. A file written
// since has another version, so its index is read again. Kept within the
// process's retained-memory bound; the least recently used leave first.
//
// Like every object of a request it is used by one thread at a time.
class TileIndexCache {
public:
    using TileEnds = std::vector<std::int32_t>;

    explicit TileIndexCache(util::RetainedMemory& memory = util::RetainedMemory::instance()) : memory_(&memory) {}
    ~TileIndexCache() { clear(); }
    TileIndexCache(const TileIndexCache&) = delete;
    TileIndexCache& operator=(const TileIndexCache&) = delete;

    // The process-wide cache.
    static TileIndexCache& instance();

    // The tile ends of sub-square square of the file at this version, or null.
    std::shared_ptr<const TileEnds> find(const jcompat::FileVersion& file, std::int32_t square);
    // Keeps them, unless they alone exceed the bound.
    void insert(const jcompat::FileVersion& file, std::int32_t square, std::shared_ptr<const TileEnds> tileEnds);

    std::size_t size() const noexcept { return entries_.size(); }
    std::size_t byteCount() const noexcept { return bytes_; }
    void clear();

private:
    struct Entry {
        jcompat::FileVersion file;
        std::int32_t square;
        std::shared_ptr<const TileEnds> tileEnds;
        std::size_t bytes;
    };

    // Lets go of the least recently used entry; false when there is none.
    bool evictOldest();

    util::RetainedMemory* memory_;
    std::size_t bytes_ = 0;
    // Most recently used first; a process reads few files, so a list will do.
    std::list<Entry> entries_;
};

} // namespace ferrow::mapaccess
