#include "util/RetainedMemory.h"

#include <utility>

namespace ferrow::util {

RetainedMemory& RetainedMemory::instance() {
    static RetainedMemory memory;
    return memory;
}

bool RetainedMemory::tryKeep(std::size_t bytes) noexcept {
    std::size_t used = used_.load(std::memory_order_relaxed);
    do {
        if (bytes > bound() || used > bound() - bytes) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

void RetainedMemory::enrolChunkStore(std::function<void()> shed) {
    const std::lock_guard<std::mutex> lock(storesMutex_);
    chunkStores_.push_back(std::move(shed));
}

void RetainedMemory::shedChunks() {
    const std::lock_guard<std::mutex> lock(storesMutex_);
    for (const std::function<void()>& shed : chunkStores_) shed();
}

} // namespace ferrow::util
