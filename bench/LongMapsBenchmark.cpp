// Cost of the long-keyed maps keyed by node identifiers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "util/CompactLongMap.h"
#include "util/FrozenLongMap.h"

namespace {

using ferrow::util::CompactLongMap;
using ferrow::util::FrozenLongMap;

// Node identifiers (ilon << 32 | ilat) of a region of about 1 x 1 degree.
std::vector<std::int64_t> nodeIds(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::int64_t> ids(n);
    for (std::int64_t& id : ids) {
        const std::int64_t ilon = 188000000 + static_cast<std::int64_t>(random() % 1000000);
        const std::int64_t ilat = 140000000 + static_cast<std::int64_t>(random() % 1000000);
        id = (ilon << 32) | ilat;
    }
    return ids;
}

void fill(CompactLongMap<std::int32_t>& map, const std::vector<std::int64_t>& ids) {
    std::int32_t value = 1;
    for (const std::int64_t id : ids) {
        map.put(id, value++);
    }
}

// Looks up every key of the map in turn.
template <typename Map>
void lookupHits(benchmark::State& state, const Map& map, const std::vector<std::int64_t>& ids) {
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.get(ids[i]));
        i = i + 1 == ids.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CompactLongMapLookupHit(benchmark::State& state) {
    const std::vector<std::int64_t> ids = nodeIds(static_cast<std::size_t>(state.range(0)), 7);
    CompactLongMap<std::int32_t> map;
    fill(map, ids);
    lookupHits(state, map, ids);
}
BENCHMARK(BM_CompactLongMapLookupHit)->Arg(1000)->Arg(100000)->Arg(1000000);

void BM_CompactLongMapLookupMiss(benchmark::State& state) {
    CompactLongMap<std::int32_t> map;
    fill(map, nodeIds(static_cast<std::size_t>(state.range(0)), 7));
    const std::vector<std::int64_t> probes = nodeIds(4096, 8);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.contains(probes[i]));
        i = (i + 1) & 4095U;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompactLongMapLookupMiss)->Arg(1000)->Arg(100000)->Arg(1000000);

void BM_CompactLongMapPut(benchmark::State& state) {
    const std::vector<std::int64_t> ids = nodeIds(static_cast<std::size_t>(state.range(0)), 9);
    for (auto _ : state) {
        CompactLongMap<std::int32_t> map;
        fill(map, ids);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CompactLongMapPut)->Arg(1000)->Arg(100000);

void BM_FrozenLongMapLookupHit(benchmark::State& state) {
    const std::vector<std::int64_t> ids = nodeIds(static_cast<std::size_t>(state.range(0)), 7);
    CompactLongMap<std::int32_t> map;
    fill(map, ids);
    const FrozenLongMap<std::int32_t> frozen(map);
    lookupHits(state, frozen, ids);
}
BENCHMARK(BM_FrozenLongMapLookupHit)->Arg(1000)->Arg(100000)->Arg(1000000);

// Adding keys known to be new, without the look-up of put.
void BM_CompactLongMapFastPut(benchmark::State& state) {
    std::vector<std::int64_t> ids = nodeIds(static_cast<std::size_t>(state.range(0)), 9);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::shuffle(ids.begin(), ids.end(), std::mt19937(10));
    for (auto _ : state) {
        CompactLongMap<std::int32_t> map;
        std::int32_t value = 1;
        for (const std::int64_t id : ids) {
            map.fastPut(id, value++);
        }
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ids.size()));
}
BENCHMARK(BM_CompactLongMapFastPut)->Arg(1000)->Arg(100000);

} // namespace
