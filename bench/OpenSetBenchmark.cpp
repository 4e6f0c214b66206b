// Cost of the open set's push and pop under search-like use.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "util/SortedHeap.h"

namespace {

using ferrow::util::SortedHeap;

struct Path {
    std::int32_t cost;
};

// Best-first pattern: take the cheapest path, queue a few slightly dearer ones,
// with the queue held near the given size.
void BM_SearchLikePushPop(benchmark::State& state) {
    const auto queueSize = static_cast<std::int32_t>(state.range(0));
    std::vector<Path> paths(static_cast<std::size_t>(queueSize) * 4);
    std::mt19937 random(5);
    SortedHeap<Path*> heap;
    std::size_t next = 0;
    for (std::int32_t i = 0; i < queueSize; ++i) {
        Path* path = &paths[next++ % paths.size()];
        path->cost = static_cast<std::int32_t>(random() % 1000);
        heap.add(path->cost, path);
    }
    std::int64_t operations = 0;
    for (auto _ : state) {
        Path* lowest = heap.popLowest();
        for (int child = 0; child < 1 + static_cast<int>(random() % 2) && heap.size() < queueSize + 1; ++child) {
            Path* path = &paths[next++ % paths.size()];
            path->cost = lowest->cost + static_cast<std::int32_t>(random() % 500);
            heap.add(path->cost, path);
            ++operations;
        }
        if (heap.size() < queueSize) {
            Path* path = &paths[next++ % paths.size()];
            path->cost = lowest->cost + 1;
            heap.add(path->cost, path);
            ++operations;
        }
        ++operations;
    }
    state.SetItemsProcessed(operations);
}
BENCHMARK(BM_SearchLikePushPop)->Arg(1000)->Arg(100000);

// Fill with n random keys, then take them all out.
void BM_PushAllThenPopAll(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    std::mt19937 random(6);
    std::vector<std::int32_t> keys(static_cast<std::size_t>(n));
    for (std::int32_t& key : keys) {
        key = static_cast<std::int32_t>(random() % 1000000);
    }
    Path path{0};
    SortedHeap<Path*> heap;
    for (auto _ : state) {
        heap.clear();
        for (const std::int32_t key : keys) {
            heap.add(key, &path);
        }
        while (heap.popLowest() != nullptr) {
        }
    }
    state.SetItemsProcessed(state.iterations() * n * 2);
}
BENCHMARK(BM_PushAllThenPopAll)->Arg(1000)->Arg(100000);

} // namespace
