#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace ferrow::mapaccess {

// Objects of one search, allocated in chunks and released together with the
// pool: graph nodes and links point at each other freely, so they are owned
// by the node map rather than by one another.
template <typename T, std::size_t ChunkSize = 1024>
class ObjectPool {
public:
    ObjectPool() = default;
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;

    // A default-constructed object that lives as long as the pool.
    T* create() {
        if (used_ == ChunkSize || chunks_.empty()) {
            chunks_.push_back(std::make_unique<T[]>(ChunkSize));
            used_ = 0;
        }
        return &chunks_.back()[used_++];
    }

    std::size_t size() const noexcept { return chunks_.empty() ? 0 : (chunks_.size() - 1) * ChunkSize + used_; }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t used_ = 0;
};

} // namespace ferrow::mapaccess
