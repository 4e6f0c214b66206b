#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "util/RetainedMemory.h"

namespace ferrow::util {

// Objects of one search (graph nodes and links, paths, track points),
// allocated in chunks that are kept from search to search. Objects point at
// each other freely (links at nodes, paths at their origin's track point,
// track points at the point before them), so none owns another: they all live
// until `reset` or the pool's end, however long the chains between them.
//
// An object known to be unreferenced (a candidate path that lost against a
// better one) may be handed back with `release` and is recycled.
//
// Chunks are raw storage: an object is made when its slot is first given
// out, and made fresh when the slot is given out again, not when it is given
// back: `create` writes the object anyway, so renewing it there costs no
// second walk over memory, and `reset` costs nothing. What a slot held
// (shared arrays, messages) is let go at its next use or when the pool ends,
// which destroys the objects it made, once each.
//
// A pool that ends hands its chunks, emptied, to a store shared by all pools
// of its type, and new pools take their chunks from there first: every search
// of every request builds its graph and paths in memory that is in use
// already, instead of fresh pages that the system must map each time. The
// stores keep spare chunks only within the process's RetainedMemory bound.
template <typename T, std::size_t ChunkSize = 1024>
class ObjectPool {
public:
    ObjectPool() = default;
    ~ObjectPool() {
        letGoOfContents();
        ChunkStore::give(chunks_);
    }
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;

    // An object made from args (value-initialized without any) that lives
    // until reset.
    template <typename... Args>
    T* create(Args&&... args) {
        void* place;
        if (!recycled_.empty()) {
            T* old = recycled_.back();
            recycled_.pop_back();
            std::destroy_at(old);
            place = old;
        } else {
            if (chunkInUse_ == chunks_.size()) {
                chunks_.push_back(ChunkStore::take());
                used_ = 0;
            } else if (used_ == ChunkSize) {
                ++chunkInUse_;
                used_ = 0;
                if (chunkInUse_ == chunks_.size()) {
                    chunks_.push_back(ChunkStore::take());
                }
            }
            ++live_;
            const bool written = chunkInUse_ * ChunkSize + used_ < written_;
            Slot* slot = &chunks_[chunkInUse_][used_++];
            if (written) std::destroy_at(objectIn(slot));
            place = slot;
        }
        return ::new (place) T(std::forward<Args>(args)...);
    }

    // Hands back an object that nothing refers to any more; create gives it out again.
    void release(T* object) { recycled_.push_back(object); }

    // Calls visit with every object given out since the last reset, in the
    // order given out, the ones handed back included (the pool does not tell
    // them apart: the caller marks them).
    template <typename Visit>
    void forEachGivenOut(Visit&& visit) {
        for (std::size_t chunk = 0; chunk < chunks_.size() && chunk <= chunkInUse_; ++chunk) {
            const std::size_t count = chunk < chunkInUse_ ? ChunkSize : used_;
            for (std::size_t slot = 0; slot < count; ++slot) visit(objectIn(&chunks_[chunk][slot]));
        }
    }

    // Makes the whole storage free for the next search. The chunks are kept.
    void reset() {
        noteWritten();
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
    // Room for one object, made there by create.
    struct alignas(T) Slot {
        unsigned char bytes[sizeof(T)];
    };
    using Chunk = std::unique_ptr<Slot[]>;

    static constexpr std::size_t CHUNK_BYTES = ChunkSize * sizeof(T);

    static T* objectIn(Slot* slot) noexcept { return std::launder(reinterpret_cast<T*>(slot)); }

    // Spare chunks that ended pools left, as many as the retained-memory
    // bound allows. Locked: pools of tests may end on other threads.
    class ChunkStore {
    public:
        static Chunk take() {
            Store& store = instance();
            const std::lock_guard<std::mutex> lock(store.mutex);
            if (store.chunks.empty()) return Chunk(new Slot[ChunkSize]);
            Chunk chunk = std::move(store.chunks.back());
            store.chunks.pop_back();
            RetainedMemory::instance().let(CHUNK_BYTES);
            return chunk;
        }
        // A pool's destructor gives its chunks: nothing here may fail. A chunk
        // the spare list cannot grow for is freed and its count given back.
        static void give(std::vector<Chunk>& chunks) noexcept {
            if (chunks.empty()) return; // else take made the store, and only its list may grow
            Store& store = instance();
            const std::lock_guard<std::mutex> lock(store.mutex);
            for (Chunk& chunk : chunks) {
                if (!RetainedMemory::instance().tryKeep(CHUNK_BYTES)) break;
                try {
                    store.chunks.push_back(std::move(chunk)); // moves nothing when it fails
                } catch (const std::bad_alloc&) {
                    RetainedMemory::instance().let(CHUNK_BYTES);
                    break;
                }
            }
            chunks.clear();
        }

    private:
        struct Store {
            std::mutex mutex;
            std::vector<Chunk> chunks;
        };
        static Store& instance() {
            static Store& store = enrol();
            return store;
        }
        static Store& enrol() {
            static Store store;
            RetainedMemory::instance().enrolChunkStore([] {
                const std::lock_guard<std::mutex> lock(store.mutex);
                RetainedMemory::instance().let(store.chunks.size() * CHUNK_BYTES);
                store.chunks.clear();
            });
            return store;
        }
    };

    // Slots holding an object, from the first on (the later ones are raw).
    void noteWritten() noexcept { written_ = std::max(written_, chunkInUse_ * ChunkSize + used_); }

    // Destroys every object made, so that spare chunks hold nothing of a request.
    void letGoOfContents() noexcept {
        noteWritten();
        for (std::size_t slot = 0; slot < written_; ++slot) {
            std::destroy_at(objectIn(&chunks_[slot / ChunkSize][slot % ChunkSize]));
        }
    }

    std::vector<Chunk> chunks_;
    std::vector<T*> recycled_;
    std::size_t chunkInUse_ = 0; // index of the chunk being filled
    std::size_t used_ = 0;       // slots given out from that chunk
    std::size_t live_ = 0;       // slots given out from the chunks since reset
    std::size_t written_ = 0;    // slots holding an object, at the last count
};

} // namespace ferrow::util
