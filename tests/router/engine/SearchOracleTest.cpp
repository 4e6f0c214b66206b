#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "router/engine/RoutingIslandException.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

constexpr std::int64_t kUnreachable = std::numeric_limits<std::int64_t>::max();

// A random grid of primary roads (cost factor 1, no turn costs): some
// streets missing, some oneway, some with a bend (an intermediate point).
// A link then costs the sum of its sections' rounded metres.
struct RandomGrid {
    struct Edge {
        int from;
        int to;
        bool oneway;
        std::int64_t weight;
    };

    TestNetwork net;
    std::vector<NodeRef> nodes;
    std::vector<Edge> edges;

    RandomGrid(std::mt19937& random, int columns, int rows) {
        std::uniform_int_distribution<int> jitter(-300, 300);
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        const std::int32_t lon0 = testsupport::gridLon(8.0);
        const std::int32_t lat0 = testsupport::gridLat(50.0);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                const std::int32_t lon = lon0 + column * 2500 + jitter(random);
                nodes.push_back(net.gridNode(lon, lat0 + row * 1700 + jitter(random)));
            }
        }
        const auto connect = [&](int from, int to) {
            if (chance(random) < 0.15) return; // a missing street
            const bool oneway = chance(random) < 0.15;
            const bool bend = chance(random) < 0.3;
            const auto& a = net.at(nodes[from]);
            const auto& b = net.at(nodes[to]);
            std::vector<testsupport::WayPoint> points{nodes[from]};
            std::int64_t weight;
            if (bend) {
                const std::int32_t lon = (a.ilon + b.ilon) / 2 + jitter(random);
                const std::int32_t lat = (a.ilat + b.ilat) / 2 + jitter(random);
                points.push_back(testsupport::gridShape(lon, lat));
                weight = metres(a.ilon, a.ilat, lon, lat) + metres(lon, lat, b.ilon, b.ilat);
            } else {
                weight = metres(a.ilon, a.ilat, b.ilon, b.ilat);
            }
            points.push_back(nodes[to]);
            net.way(oneway ? "highway=primary oneway=yes" : "highway=primary", std::move(points));
            edges.push_back({from, to, oneway, weight});
        };
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                const int here = row * columns + column;
                if (column + 1 < columns) {
                    chance(random) < 0.5 ? connect(here, here + 1) : connect(here + 1, here);
                }
                if (row + 1 < rows) {
                    chance(random) < 0.5 ? connect(here, here + columns) : connect(here + columns, here);
                }
            }
        }
    }

    // The cost of travelling the edge from `from`, or nothing against a oneway.
    static std::int64_t weightFrom(const Edge& edge, int from) {
        return edge.from == from || !edge.oneway ? edge.weight : kUnreachable;
    }

    // The search's cost from the start edge's first node to the end edge's
    // first node: a start at a segment's node costs 1 m when the path comes
    // over the segment towards it, and the whole segment when it leaves
    // over it; the end likewise.
    std::int64_t oracleCost(const Edge& start, const Edge& end) const {
        std::vector<std::pair<int, std::int64_t>> sources;
        if (weightFrom(start, start.to) != kUnreachable) sources.emplace_back(start.from, 1);
        if (weightFrom(start, start.from) != kUnreachable) sources.emplace_back(start.to, start.weight);
        const std::vector<std::int64_t> cost = cheapestCosts(nodes.size(), sources, [&](int node, auto reach) {
            for (const Edge& edge : edges) {
                if (edge.from != node && edge.to != node) continue;
                const std::int64_t w = weightFrom(edge, node);
                if (w != kUnreachable) reach(edge.from == node ? edge.to : edge.from, w);
            }
        });
        std::int64_t best = kUnreachable;
        const std::int64_t atFirst = cost[static_cast<std::size_t>(end.from)];
        const std::int64_t atSecond = cost[static_cast<std::size_t>(end.to)];
        if (atFirst != kUnreachable && weightFrom(end, end.from) != kUnreachable) best = atFirst + 1;
        if (atSecond != kUnreachable && weightFrom(end, end.to) != kUnreachable) {
            best = std::min(best, atSecond + end.weight);
        }
        return best;
    }
};

TEST(SearchOracle, SameCostAsDijkstraOnRandomGrids) {
    std::mt19937 random(20240611);
    int compared = 0;
    for (int trial = 0; trial < 24; ++trial) {
        RandomGrid grid(random, 5 + trial % 4, 4 + trial % 5);
        if (grid.edges.size() < 2) continue;
        std::uniform_int_distribution<std::size_t> pick(0, grid.edges.size() - 1);
        const RandomGrid::Edge& start = grid.edges[pick(random)];
        const RandomGrid::Edge* end = &grid.edges[pick(random)];
        while (end == &start) end = &grid.edges[pick(random)];

        SearchFixture f;
        f.load(grid.net, testProfile());
        const std::int64_t expected = grid.oracleCost(start, *end);
        std::shared_ptr<OsmTrack> track;
        try {
            track = f.search(f.on(grid.nodes[start.from], grid.nodes[start.to], 0.0),
                             f.on(grid.nodes[end->from], grid.nodes[end->to], 0.0));
        } catch (const RoutingIslandException&) {
        }
        SCOPED_TRACE("trial " + std::to_string(trial));
        if (expected == kUnreachable) {
            EXPECT_EQ(track, nullptr);
        } else {
            ASSERT_TRUE(track);
            EXPECT_EQ(track->cost, expected);
            ++compared;
        }
    }
    EXPECT_GE(compared, 18);
}

} // namespace
} // namespace ferrow::router::testing
