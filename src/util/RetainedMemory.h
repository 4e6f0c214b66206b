#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace ferrow::util {

// What the process keeps from one request to the next only to be faster
// (decoded tiles, chunks of pooled objects), under one bound: DEFAULT_BOUND
// bytes unless a test sets another. The keepers count what they hold here;
// what a running request uses on top of that is its own.
//
// Spare pool chunks are the cheapest to make again, so they yield first:
// a keeper that finds no room asks the chunk stores to shed theirs, and only
// then gives up something of its own.
class RetainedMemory {
public:
    static constexpr std::size_t DEFAULT_BOUND = std::size_t{16} << 20;

    // The process's; a separate one serves tests of a single keeper.
    static RetainedMemory& instance();
    explicit RetainedMemory(std::size_t bound = DEFAULT_BOUND) noexcept : bound_(bound) {}
    RetainedMemory(const RetainedMemory&) = delete;
    RetainedMemory& operator=(const RetainedMemory&) = delete;

    std::size_t bound() const noexcept { return bound_.load(std::memory_order_relaxed); }
    // Takes effect as the keepers next keep something.
    void setBound(std::size_t bytes) noexcept { bound_.store(bytes, std::memory_order_relaxed); }
    std::size_t used() const noexcept { return used_.load(std::memory_order_relaxed); }

    // Counts bytes more when they fit under the bound.
    bool tryKeep(std::size_t bytes) noexcept;
    void let(std::size_t bytes) noexcept { used_.fetch_sub(bytes, std::memory_order_relaxed); }

    // tryKeep for a keeper with entries of its own: when bytes do not fit,
    // spare chunks are shed first, then evictOldest (which lets go of the
    // keeper's oldest entry, or answers false when it has none) is called
    // until they do. False when they cannot fit: more than the whole bound
    // makes nothing else give way.
    template <typename EvictOldest>
    bool keepMakingRoom(std::size_t bytes, EvictOldest evictOldest) {
        if (tryKeep(bytes)) return true;
        if (bytes > bound()) return false;
        shedChunks();
        while (!tryKeep(bytes)) {
            if (!evictOldest()) return false;
        }
        return true;
    }

    // Chunk stores enrol a function that sheds all their spare chunks.
    void enrolChunkStore(std::function<void()> shed);
    // Makes room by shedding the spare chunks of every store.
    void shedChunks();

private:
    std::atomic<std::size_t> bound_;
    std::atomic<std::size_t> used_{0};
    std::mutex storesMutex_;
    std::vector<std::function<void()>> chunkStores_;
};

} // namespace ferrow::util
