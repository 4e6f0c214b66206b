// One search across a generated grid town of 102400 nodes, decoded from
// segment files on demand: settled paths per second, and the memory the
// search needed (process peak, path and track-point pools, graph objects).
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "jcompat/Clock.h"
#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNodePairSet.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "router/costing/StdModel.h"
#include "router/engine/PathSearch.h"
#include "router/engine/RoutingEngine.h"
#include "testsupport/ProfileFiles.h"
#include "testsupport/SearchFixture.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestPlatform.h"

namespace {

using namespace ferrow;
using testsupport::NodeRef;

constexpr int kSide = 320;

// Streets every ~72 m east-west and ~78 m north-south, each row and column
// one way of a random class, broken here and there.
struct GridTown {
    testsupport::TempDirectory segments;
    router::testing::ProfileDir profiles;
    std::string profile;
    testsupport::TestNetwork net;
    std::vector<NodeRef> nodes;

    GridTown() {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> jitter(-150, 150);
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        const char* classes[] = {"highway=primary", "highway=residential", "highway=residential", "highway=track"};
        const std::int32_t lon0 = testsupport::gridLon(8.0);
        const std::int32_t lat0 = testsupport::gridLat(50.0);
        for (int row = 0; row < kSide; ++row) {
            for (int column = 0; column < kSide; ++column) {
                const std::int32_t lon = lon0 + column * 1000 + jitter(random);
                nodes.push_back(net.gridNode(lon, lat0 + row * 700 + jitter(random)));
            }
        }
        const auto street = [&](int first, int step) {
            std::vector<testsupport::WayPoint> points{nodes[static_cast<std::size_t>(first)]};
            const char* tags = classes[random() % 4];
            for (int i = 1; i < kSide; ++i) {
                const int next = first + i * step;
                if (chance(random) < 0.03) { // a gap: the street goes on as another way
                    if (points.size() > 1) net.way(tags, std::move(points));
                    points = {nodes[static_cast<std::size_t>(next)]};
                    tags = classes[random() % 4];
                    continue;
                }
                points.push_back(nodes[static_cast<std::size_t>(next)]);
            }
            if (points.size() > 1) net.way(tags, std::move(points));
        };
        for (int row = 0; row < kSide; ++row) street(row * kSide, 1);
        for (int column = 0; column < kSide; ++column) street(column, kSide);
        testsupport::SegmentWriter().write(net, segments.path());
        profile = profiles.write("town.vpf", router::testing::testProfile());
    }

    mapaccess::MatchedWaypoint waypoint(int row, int column) const {
        const auto& a = net.at(nodes[static_cast<std::size_t>(row * kSide + column)]);
        const auto& b = net.at(nodes[static_cast<std::size_t>(row * kSide + column + 1)]);
        mapaccess::MatchedWaypoint waypoint;
        waypoint.node1 = std::make_shared<mapaccess::OsmNode>(a.ilon, a.ilat);
        waypoint.node2 = std::make_shared<mapaccess::OsmNode>(b.ilon, b.ilat);
        waypoint.crossPoint = std::make_shared<mapaccess::OsmNode>((a.ilon + b.ilon) / 2, (a.ilat + b.ilat) / 2);
        waypoint.waypoint = waypoint.crossPoint;
        return waypoint;
    }
};

const GridTown& town() {
    static const GridTown instance;
    return instance;
}

// Corner to corner; the argument is the air-distance weight x 10 (0: plain
// cost order, as the island checks and re-routing run; 15: "pass0").
void BM_SearchAcrossGridTown(benchmark::State& state) {
    const GridTown& grid = town();
    const auto from = grid.waypoint(2, 2);
    const auto to = grid.waypoint(kSide - 3, kSide - 4);
    std::int64_t visited = 0;
    std::size_t pathPool = 0;
    std::size_t elementPool = 0;
    std::size_t graphNodes = 0;
    std::int32_t cost = 0;
    for (auto _ : state) {
        state.PauseTiming();
        router::RoutingContext rc;
        rc.profilePath = grid.profile;
        rc.memoryClass = 128;
        router::ProfileCache::parseProfile(rc);
        std::int64_t startTime = jcompat::currentTimeMillis();
        router::OsmPathElement* matchPath = nullptr;
        const std::atomic<bool> stop{false};
        mapaccess::OsmNodePairSet islandPairs{router::RoutingEngine::ISLAND_PAIR_CAPACITY};
        router::SearchRun run{startTime, matchPath, stop, islandPairs};
        const router::SearchTask task{.operationName = "pass0",
                                      .startWp = from,
                                      .endWp = &to,
                                      .airDistanceCostFactor = static_cast<double>(state.range(0)) / 10.0};
        router::PathSearch search;
        state.ResumeTiming();

        // A node cache of its own, as each search of a route has.
        mapaccess::NodesCache cache(jcompat::File(grid.segments.path()), *rc.expctxWay, rc.profile->meta, false,
                                    std::int64_t{rc.memoryClass} * 1048576, nullptr, false);
        cache.nodesMap().cleanupMode = 1;
        const router::OsmPath* path = search.find(cache, rc, task, run);

        state.PauseTiming();
        if (path == nullptr) state.SkipWithError("no route");
        cost = path != nullptr ? path->cost : -1;
        visited += search.visitedCount();
        pathPool = static_cast<const router::StdModel&>(*rc.pathModel).pathPoolBytes();
        elementPool = rc.pathElements.capacityBytes();
        graphNodes = cache.nodesMap().createdNodeCount();
        search.clear();
        rc.releaseSearchMemory();
        router::ProfileCache::releaseProfile(rc);
        state.ResumeTiming();
    }
    state.counters["settled_paths_per_s"] =
        benchmark::Counter(static_cast<double>(visited), benchmark::Counter::kIsRate);
    state.counters["settled_paths"] = static_cast<double>(visited) / static_cast<double>(state.iterations());
    state.counters["route_cost"] = cost;
    state.counters["graph_nodes"] = static_cast<double>(graphNodes);
    state.counters["path_pool_MB"] = static_cast<double>(pathPool) / 1048576.0;
    state.counters["point_pool_MB"] = static_cast<double>(elementPool) / 1048576.0;
    state.counters["peak_rss_MB"] = static_cast<double>(testsupport::peakResidentKib()) / 1024.0;
}
BENCHMARK(BM_SearchAcrossGridTown)->Arg(0)->Arg(15)->Unit(benchmark::kMillisecond);

} // namespace
