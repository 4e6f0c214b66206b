// Decoding and weaving of a tile of realistic density: a street grid of 400
// crossings with shape points, a few tag sets, node tags, turn restrictions
// and links leaving the tile. Reports nodes per second and bytes per node.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/MicroCache2.h"
#include "codec/StatCoderContext.h"
#include "mapaccess/DecodedTile.h"
#include "mapaccess/DirectWeaver.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/TestTagValidator.h"
#include "testsupport/TileEncoder.h"

namespace {

using namespace ferrow;
using testsupport::TileContent;

constexpr std::int32_t LON_IDX = 188 * 80;
constexpr std::int32_t LAT_IDX = 140 * 80;
constexpr std::int32_t SIDE = 20;

struct GridTile {
    std::vector<util::Byte> bytes;
    std::int32_t nodes = 0;
};

GridTile makeGridTile() {
    const testsupport::LookupTagCoder& tags = testsupport::LookupTagCoder::standard();
    const std::vector<testsupport::CodedTagSet> wayTags = {tags.wayTags("highway=residential"),
                                                           tags.wayTags("highway=residential surface=asphalt"),
                                                           tags.wayTags("highway=primary oneway=yes maxspeed=50"),
                                                           tags.wayTags("highway=footway"),
                                                           tags.wayTags("highway=service access=private"),
                                                           tags.wayTags("highway=tertiary cycleway=lane")};
    const testsupport::CodedTagSet signals = tags.nodeTags("highway=traffic_signals");
    std::mt19937 random(5);
    TileContent tile;
    tile.lonIdx = LON_IDX;
    tile.latIdx = LAT_IDX;
    const std::int32_t spacing = 12500 / SIDE;
    for (std::int32_t row = 0; row < SIDE; ++row) {
        for (std::int32_t column = 0; column < SIDE; ++column) {
            TileContent::Node node;
            node.ilon = LON_IDX * 12500 + column * spacing + static_cast<std::int32_t>(random() % 40);
            node.ilat = LAT_IDX * 12500 + row * spacing + static_cast<std::int32_t>(random() % 40);
            node.elevation = static_cast<std::int16_t>(400 + row * 3 + static_cast<std::int32_t>(random() % 8));
            if (random() % 10 == 0) {
                node.nodeTags = signals;
            }
            tile.nodes.push_back(node);
        }
    }
    auto index = [](std::int32_t row, std::int32_t column) { return row * SIDE + column; };
    for (std::int32_t row = 0; row < SIDE; ++row) {
        for (std::int32_t column = 0; column < SIDE; ++column) {
            TileContent::Node& node = tile.nodes[static_cast<std::size_t>(index(row, column))];
            const testsupport::CodedTagSet& street = wayTags[static_cast<std::size_t>((row + column) % 6)];
            for (const auto& [dr, dc] : {std::pair{0, 1}, std::pair{1, 0}}) {
                TileContent::Link link;
                link.wayTags = street;
                if (row + dr < SIDE && column + dc < SIDE) {
                    link.target = index(row + dr, column + dc);
                    const TileContent::Node& target = tile.nodes[static_cast<std::size_t>(link.target)];
                    link.points.push_back(
                        TileContent::Point{(target.ilon - node.ilon) / 2 + 7, (target.ilat - node.ilat) / 2 - 5, 1});
                } else {
                    link.dlon = dc * spacing;
                    link.dlat = dr * spacing;
                }
                node.links.push_back(link);
            }
            if (row > 0 && column > 0 && random() % 8 == 0) {
                const TileContent::Node& west = tile.nodes[static_cast<std::size_t>(index(row, column - 1))];
                const TileContent::Node& south = tile.nodes[static_cast<std::size_t>(index(row - 1, column))];
                node.restrictions.push_back(
                    TileContent::Restriction{0, false, west.ilon, west.ilat, south.ilon, south.ilat});
            }
        }
    }
    // The grid's west and south edges get the reverse records of links from neighbouring tiles.
    for (std::int32_t i = 0; i < SIDE; ++i) {
        TileContent::Link fromWest;
        fromWest.reverse = true;
        fromWest.dlon = -spacing;
        fromWest.wayTags = wayTags[0];
        tile.nodes[static_cast<std::size_t>(index(i, 0))].links.push_back(fromWest);
        TileContent::Link fromSouth = fromWest;
        fromSouth.dlon = 0;
        fromSouth.dlat = -spacing;
        tile.nodes[static_cast<std::size_t>(index(0, i))].links.push_back(fromSouth);
    }
    return GridTile{testsupport::TileEncoder::encode(tile), SIDE * SIDE};
}

const GridTile& gridTile() {
    static const GridTile tile = makeGridTile();
    return tile;
}

void setCounters(benchmark::State& state, const GridTile& tile) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * tile.nodes);
    state.counters["nodes/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * tile.nodes, benchmark::Counter::kIsRate);
    state.counters["bytes/node"] = static_cast<double>(tile.bytes.size()) / tile.nodes;
}

void BM_DecodeTile(benchmark::State& state) {
    const GridTile& tile = gridTile();
    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
    for (auto _ : state) {
        codec::StatCoderContext coder(tile.bytes);
        codec::MicroCache2 decoded(coder, buffers, LON_IDX, LAT_IDX, 80, &validator, nullptr,
                                   static_cast<std::int32_t>(tile.bytes.size()));
        benchmark::DoNotOptimize(decoded.getSize());
    }
    setCounters(state, tile);
}
BENCHMARK(BM_DecodeTile);

// Decoding plus filling every node from its record, as the area statistics do.
void BM_DecodeTileAndParseNodes(benchmark::State& state) {
    const GridTile& tile = gridTile();
    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
    for (auto _ : state) {
        state.PauseTiming();
        auto map = std::make_unique<mapaccess::OsmNodesMap>();
        state.ResumeTiming();
        codec::StatCoderContext coder(tile.bytes);
        codec::MicroCache2 decoded(coder, buffers, LON_IDX, LAT_IDX, 80, &validator, nullptr,
                                   static_cast<std::int32_t>(tile.bytes.size()));
        const std::vector<std::int32_t> ids(decoded.nodeIds().begin(), decoded.nodeIds().end());
        for (const std::int32_t id : ids) {
            const std::int64_t position = decoded.expandId(id);
            mapaccess::OsmNode* node = map->createNode(static_cast<std::int32_t>(position >> 32),
                                                       static_cast<std::int32_t>(position & 0xFFFFFFFF));
            if (decoded.getAndClear(position)) {
                node->parseNodeBody(decoded, *map, map->byteArrayUnifier());
            }
        }
        state.PauseTiming();
        map.reset();
        state.ResumeTiming();
    }
    setCounters(state, tile);
}
BENCHMARK(BM_DecodeTileAndParseNodes);

// Weaving straight into the graph, with cleanup mode 0 (no peninsula cut) or 1.
void BM_WeaveTile(benchmark::State& state) {
    const GridTile& tile = gridTile();
    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
    for (auto _ : state) {
        state.PauseTiming();
        auto map = std::make_unique<mapaccess::OsmNodesMap>();
        map->cleanupMode = static_cast<std::int32_t>(state.range(0));
        state.ResumeTiming();
        codec::StatCoderContext coder(tile.bytes);
        const auto decoded = std::make_shared<mapaccess::DecodedTile>(mapaccess::DecodedTile::decode(
            coder, buffers, LON_IDX, LAT_IDX, 80, static_cast<std::int32_t>(tile.bytes.size())));
        mapaccess::DirectWeaver(decoded, *map,
                                mapaccess::DirectWeaver::filterWayTags(*decoded, validator, buffers.wayTagSets),
                                validator, nullptr);
        benchmark::DoNotOptimize(map->nodeCount);
        state.PauseTiming();
        map.reset();
        state.ResumeTiming();
    }
    setCounters(state, tile);
}
BENCHMARK(BM_WeaveTile)->Arg(0)->Arg(1);

// Weaving a tile decoded before, as every search after the first does.
void BM_WeaveDecodedTile(benchmark::State& state) {
    const GridTile& tile = gridTile();
    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
    codec::StatCoderContext coder(tile.bytes);
    const auto decoded = std::make_shared<const mapaccess::DecodedTile>(mapaccess::DecodedTile::decode(
        coder, buffers, LON_IDX, LAT_IDX, 80, static_cast<std::int32_t>(tile.bytes.size())));
    for (auto _ : state) {
        state.PauseTiming();
        auto map = std::make_unique<mapaccess::OsmNodesMap>();
        map->cleanupMode = static_cast<std::int32_t>(state.range(0));
        state.ResumeTiming();
        mapaccess::DirectWeaver(decoded, *map,
                                mapaccess::DirectWeaver::filterWayTags(*decoded, validator, buffers.wayTagSets),
                                validator, nullptr);
        benchmark::DoNotOptimize(map->nodeCount);
        state.PauseTiming();
        map.reset();
        state.ResumeTiming();
    }
    setCounters(state, tile);
}
BENCHMARK(BM_WeaveDecodedTile)->Arg(0)->Arg(1);

} // namespace
