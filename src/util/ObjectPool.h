#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace ferrow::util {

// Objects of one search (graph nodes and links, paths, track points),
// allocated in chunks that are kept from search to search. Objects point at
// each other freely (links at nodes, paths at their origin's track point,
// track points at the point before them), so none owns another: they all live
// until `reset` or the pool's end, which release them in one flat pass,
// however long the chains between them.
//
// An object known to be unreferenced (a candidate path that lost against a
// better one) may be handed back with `release` and is recycled.
template <typename T, std::size_t ChunkSize = 1024>
class ObjectPool {
public:
    ObjectPool() = default;
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;

    // A default-constructed object that lives until reset.
    T* create() {
        if (!recycled_.empty()) {
            T* object = recycled_.back();
            recycled_.pop_back();
            return object;
        }
        if (chunkInUse_ == chunks_.size()) {
            chunks_.push_back(std::make_unique<T[]>(ChunkSize));
            used_ = 0;
        } else if (used_ == ChunkSize) {
            ++chunkInUse_;
            used_ = 0;
            if (chunkInUse_ == chunks_.size()) {
                chunks_.push_back(std::make_unique<T[]>(ChunkSize));
            }
        }
        ++live_;
        return &chunks_[chunkInUse_][used_++];
    }

    // Hands back an object that nothing refers to any more; it is made fresh
    // at once (so it holds no resources) and given out again by create.
    void release(T* object) {
        renew(object);
        recycled_.push_back(object);
    }

    // Makes every object fresh again and the whole storage free for the next
    // search. The chunks are kept.
    void reset() {
        for (std::size_t chunk = 0; chunk < chunks_.size() && chunk <= chunkInUse_; ++chunk) {
            const std::size_t count = chunk < chunkInUse_ ? ChunkSize : used_;
            for (std::size_t i = 0; i < count; ++i) {
                renew(&chunks_[chunk][i]);
            }
        }
        recycled_.clear();
        chunkInUse_ = 0;
        used_ = 0;
        live_ = 0;
    }

    // Objects handed out since the last reset and not released.
    std::size_t liveCount() const noexcept { return live_ - recycled_.size(); }
    // Bytes held by the chunks.
    std::size_t capacityBytes() const noexcept { return chunks_.size() * ChunkSize * sizeof(T); }

private:
    static void renew(T* object) {
        std::destroy_at(object);
        std::construct_at(object);
    }

    std::vector<std::unique_ptr<T[]>> chunks_;
    std::vector<T*> recycled_;
    std::size_t chunkInUse_ = 0; // index of the chunk being filled
    std::size_t used_ = 0;       // slots given out from that chunk
    std::size_t live_ = 0;       // slots given out from the chunks since reset
};

} // namespace ferrow::util
