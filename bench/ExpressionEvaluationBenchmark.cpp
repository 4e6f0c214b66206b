// Way evaluation with the project's car profile: cache hits, cache misses
// (both directions computed and an entry recycled) and evaluation without a cache.
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "testsupport/ProfileFixture.h"

namespace {

using namespace ferrow;

// The project's car profile with its lookup table.
struct CarProfile : expressions::testing::LoadedProfile {
    explicit CarProfile(int cacheSize) : LoadedProfile(FERROW_SOURCE_DIR "/profiles/lookups.dat", cacheSize) {
        parse(FERROW_SOURCE_DIR "/profiles/car.vpf");
    }
};

// Distinct realistic way tag sets: a road class, often a surface, sometimes a
// speed limit, oneway or access tag.
std::vector<util::ByteArray> makeTagSets(const expressions::BExpressionContextWay& way, int count) {
    std::mt19937 random(42);
    const std::vector<std::string> optional = {"surface",    "maxspeed", "oneway", "access",
                                               "smoothness", "bridge",   "lit"};
    std::vector<util::ByteArray> sets;
    std::vector<std::vector<std::pair<int, int>>> seen;
    const int highway = way.getLookupNameIdx("highway");
    while (static_cast<int>(sets.size()) < count) {
        std::vector<std::pair<int, int>> tags;
        tags.emplace_back(highway, 2 + static_cast<int>(random() % 16));
        for (const std::string& name : optional) {
            const int tag = way.getLookupNameIdx(name);
            const int values = static_cast<int>(way.lookupValues(tag).size());
            if (random() % 3 == 0) {
                tags.emplace_back(tag, 2 + static_cast<int>(random() % (values - 2)));
            }
        }
        std::sort(tags.begin(), tags.end());
        if (std::find(seen.begin(), seen.end(), tags) != seen.end()) {
            continue;
        }
        seen.push_back(tags);
        sets.push_back(expressions::testing::encodeTags(tags));
    }
    return sets;
}

// Evaluates the tag sets round and round, alternating the direction when asked.
void evaluateInTurn(benchmark::State& state, expressions::BExpressionContextWay& way,
                    const std::vector<util::ByteArray>& sets, bool alternateDirection) {
    std::size_t i = 0;
    for (auto _ : state) {
        way.evaluate(alternateDirection && (i & 1) != 0, sets[i % sets.size()]);
        benchmark::DoNotOptimize(way.getCostfactor());
        ++i;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Every evaluation finds its tag set in the cache; the arrays are the ones
// evaluated before, as the search's shared tag sets are, so nearly all are
// found by their address.
void BM_WayEvaluationCached(benchmark::State& state) {
    CarProfile car(65536);
    const std::vector<util::ByteArray> sets = makeTagSets(*car.way, 1000);
    for (const util::ByteArray& tags : sets) {
        car.way->evaluate(false, tags);
    }
    evaluateInTurn(state, *car.way, sets, true);
}
BENCHMARK(BM_WayEvaluationCached);

// Every evaluation finds its tag set in the cache, but in an array of equal
// bytes seldom seen before (16 copies of each tag set): looked up by CRC.
void BM_WayEvaluationCachedCopies(benchmark::State& state) {
    CarProfile car(65536);
    const std::vector<util::ByteArray> sets = makeTagSets(*car.way, 1000);
    std::vector<util::ByteArray> copies;
    for (int copy = 0; copy < 16; ++copy) {
        for (const util::ByteArray& tags : sets) {
            copies.push_back(util::ByteArray::copyOf(tags.span()));
        }
    }
    for (const util::ByteArray& tags : sets) {
        car.way->evaluate(false, tags);
    }
    evaluateInTurn(state, *car.way, copies, true);
}
BENCHMARK(BM_WayEvaluationCachedCopies);

// Tile decoding's pattern: unify a slice, then classify the shared array.
void BM_WayUnifyAndAccessType(benchmark::State& state) {
    CarProfile car(65536);
    const std::vector<util::ByteArray> sets = makeTagSets(*car.way, 1000);
    for (const util::ByteArray& tags : sets) {
        car.way->accessType(car.way->unify(tags.span()));
    }
    std::size_t i = 0;
    for (auto _ : state) {
        const util::ByteArray shared = car.way->unify(sets[i % sets.size()].span());
        benchmark::DoNotOptimize(car.way->accessType(shared));
        ++i;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_WayUnifyAndAccessType);

// The cache holds fewer tag sets than are cycled through: every evaluation
// misses, runs the profile for both directions and recycles an entry.
void BM_WayEvaluationMiss(benchmark::State& state) {
    CarProfile car(512);
    evaluateInTurn(state, *car.way, makeTagSets(*car.way, 1000), false);
}
BENCHMARK(BM_WayEvaluationMiss);

// No cache at all: decoding and one run of the way statements.
void BM_WayEvaluationUncached(benchmark::State& state) {
    CarProfile car(0);
    evaluateInTurn(state, *car.way, makeTagSets(*car.way, 1000), true);
}
BENCHMARK(BM_WayEvaluationUncached);

} // namespace
