#include "mapaccess/TileIndexCache.h"

#include <utility>

#include "util/ProcessState.h"

namespace ferrow::mapaccess {

TileIndexCache& TileIndexCache::instance() {
    static TileIndexCache& cache = []() -> TileIndexCache& {
        static TileIndexCache indexes;
        util::ProcessState::enrol([] { indexes.clear(); });
        return indexes;
    }();
    return cache;
}

std::shared_ptr<const TileIndexCache::TileEnds> TileIndexCache::find(const jcompat::FileVersion& file,
                                                                     std::int32_t square) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->square == square && it->file == file) {
            entries_.splice(entries_.begin(), entries_, it);
            return it->tileEnds;
        }
    }
    return nullptr;
}

void TileIndexCache::insert(const jcompat::FileVersion& file, std::int32_t square,
                            std::shared_ptr<const TileEnds> tileEnds) {
    const std::size_t bytes = tileEnds->size() * sizeof(std::int32_t) + sizeof(Entry);
    // Allocated before anything is counted or evicted, as the tile cache does.
    std::list<Entry> fresh;
    fresh.push_front(Entry{file, square, std::move(tileEnds), bytes});
    if (!memory_->keepMakingRoom(bytes, [this] { return evictOldest(); })) return;
    entries_.splice(entries_.begin(), fresh);
    bytes_ += bytes;
}

bool TileIndexCache::evictOldest() {
    if (entries_.empty()) return false;
    bytes_ -= entries_.back().bytes;
    memory_->let(entries_.back().bytes);
    entries_.pop_back();
    return true;
}

void TileIndexCache::clear() {
    entries_.clear();
    memory_->let(bytes_);
    bytes_ = 0;
}

} // namespace ferrow::mapaccess
