#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/MicroCache.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/OsmFile.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/PhysicalFile.h"
#include "testsupport/SegmentFiles.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"
#include "testsupport/TileEncoder.h"

// Damaged segment files must end in an exception of the system's own types,
// never in a crash, an out-of-bounds access (the sanitizer build checks), a
// hang or a giant allocation.
namespace ferrow::mapaccess {
namespace {

using testsupport::SegmentFileOptions;
using testsupport::TestNetwork;
using Bytes = std::vector<util::Byte>;

// A network of one file: streets over a few tiles with restrictions, shape
// points and tags, and links leaving the file.
TestNetwork sweepNetwork() {
    std::mt19937 random(99);
    TestNetwork net;
    std::vector<testsupport::NodeRef> nodes;
    for (int i = 0; i < 40; ++i) {
        const double lon = 8.001 + 0.001 * static_cast<double>(random() % 30);
        const double lat = 50.01 + 0.0007 * i;
        nodes.push_back(net.node(lon, lat).elevation(static_cast<double>(random() % 500)));
    }
    net.node(8.005, 50.0101).tags("highway=traffic_signals");
    for (int i = 0; i + 1 < 40; ++i) {
        net.way(i % 3 == 0 ? "highway=residential oneway=yes" : "highway=primary surface=asphalt",
                {nodes[i], testsupport::shape(8.001 + 0.001 * (i % 7), 50.0101 + 0.0007 * i, 12.5), nodes[i + 1]});
    }
    const auto outside = net.node(4.999, 50.02);
    net.way("highway=track", {nodes[0], outside});
    for (int i = 1; i + 1 < 40; i += 5) {
        net.noTurn(nodes[i - 1], nodes[i], nodes[i + 1], static_cast<std::int16_t>(i % 4));
    }
    return net;
}

class CorruptionTest : public ::testing::Test {
protected:
    void prepare(const SegmentFileOptions& options) {
        network = sweepNetwork();
        testsupport::SegmentWriter writer;
        writer.defaults(options);
        good = writer.fileContents(network).at("E5_N50");
        path = directory.file("E5_N50.rd5");
        write(good);
    }

    void write(const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Opens the file and decodes every tile that holds nodes, both ways; a
    // run may end in one of the system's exceptions, and nothing else.
    void readAll() {
        try {
            PhysicalFile file(jcompat::File(path), buffers, 1, 0);
            const std::int32_t cell = 1000000 / file.tilesPerDegree();
            std::map<std::pair<std::int32_t, std::int32_t>, std::unique_ptr<OsmFile>> open;
            OsmNodesMap map;
            for (const auto& [lonIdx, latIdx] : tilesAt(cell)) {
                const std::pair<std::int32_t, std::int32_t> degrees{lonIdx * cell / 1000000, latIdx * cell / 1000000};
                auto& square = open[degrees];
                if (square == nullptr) {
                    square = std::make_unique<OsmFile>(&file, degrees.first, degrees.second, buffers);
                }
                if (!square->hasData()) {
                    continue;
                }
                map.cleanupMode = static_cast<std::int32_t>(lonIdx % 3);
                square->createMicroCache(lonIdx, latIdx, buffers, &validator, nullptr, true, &map);
                const std::shared_ptr<codec::MicroCache> tile =
                    square->createMicroCache(lonIdx, latIdx, buffers, &validator, nullptr, true, nullptr);
                const std::vector<std::int32_t> ids(tile->nodeIds().begin(), tile->nodeIds().end());
                for (const std::int32_t id : ids) {
                    const std::int64_t position = tile->expandId(id);
                    OsmNode* node = map.createNode(static_cast<std::int32_t>(position >> 32),
                                                   static_cast<std::int32_t>(position & 0xFFFFFFFF));
                    if (tile->getAndClear(position)) {
                        node->parseNodeBody(*tile, map, map.byteArrayUnifier());
                    }
                }
            }
            ++accepted;
        } catch (const jcompat::Throwable&) {
            ++refused;
        }
    }

    // The tiles holding nodes of the file, at a cell size.
    std::set<std::pair<std::int32_t, std::int32_t>> tilesAt(std::int32_t cell) const {
        std::set<std::pair<std::int32_t, std::int32_t>> tiles;
        for (const TestNetwork::Node& node : network.nodes()) {
            if (testsupport::SegmentWriter::baseNameFor(node.ilon, node.ilat) == "E5_N50") {
                tiles.insert({node.ilon / cell, node.ilat / cell});
            }
        }
        return tiles;
    }

    // Sets one byte of the file in place.
    void poke(std::size_t position, util::Byte value) {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(position)), 1);
        ::close(fd);
    }

    // Reads the file with each listed byte changed in turn (one bit flipped,
    // or every other time a random value), and cut at each listed length.
    void sweep(const std::vector<std::size_t>& positions, const std::vector<std::size_t>& lengths) {
        std::mt19937 random(17);
        for (const std::size_t position : positions) {
            const auto flipped = static_cast<util::Byte>(good[position] ^ (1U << (position % 8)));
            poke(position, position % 2 == 0 ? flipped : static_cast<util::Byte>(random()));
            readAll();
            poke(position, good[position]);
        }
        for (const std::size_t length : lengths) {
            write(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
            readAll();
        }
        write(good);
    }

    TestNetwork network;
    testsupport::TempDirectory directory;
    std::string path;
    Bytes good;
    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
    int refused = 0;
    int accepted = 0;
};

// The bytes worth damaging: the top index, the index entries of the tiles
// holding nodes (with their neighbours) and every 61st other index byte, and
// everything after the index (tiles and trailer). Cut lengths: the same, but
// only every third one after the index.
struct SweepPlan {
    std::vector<std::size_t> positions;
    std::vector<std::size_t> lengths;
};

SweepPlan planFor(const Bytes& file, std::int32_t tilesPerDegree,
                  const std::set<std::pair<std::int32_t, std::int32_t>>& tiles) {
    const auto tileCount = static_cast<std::size_t>(tilesPerDegree * tilesPerDegree);
    const std::size_t tilesStart = 200 + 4 * tileCount;
    std::set<std::size_t> entries;
    for (const auto& [lonIdx, latIdx] : tiles) {
        const auto k = static_cast<std::size_t>((lonIdx - tilesPerDegree * 188) +
                                                (latIdx - tilesPerDegree * 140) * tilesPerDegree);
        for (std::size_t e = k > 2 ? k - 2 : 0; e <= k + 2 && e < tileCount; ++e) {
            entries.insert(e);
        }
    }
    SweepPlan plan;
    for (std::size_t p = 0; p < file.size(); ++p) {
        const bool entry = p >= 200 && p < tilesStart && entries.contains((p - 200) / 4);
        if (p < 200 || p >= tilesStart || entry || p % 61 == 0) {
            plan.positions.push_back(p);
        }
        if (p < 200 || (p >= tilesStart && p % 3 == 0) || p % 61 == 0) {
            plan.lengths.push_back(p);
        }
    }
    return plan;
}

TEST_F(CorruptionTest, FileWithChecksums) {
    SegmentFileOptions options;
    options.tilesPerDegree = 32;
    prepare(options);
    readAll();
    ASSERT_EQ(accepted, 1) << "the undamaged file reads";
    const SweepPlan plan = planFor(good, 32, tilesAt(31250));
    sweep(plan.positions, plan.lengths);
    EXPECT_GT(refused, static_cast<int>(plan.lengths.size()));
}

TEST_F(CorruptionTest, FileWithoutChecksums) {
    // No checksum stops the damage before the decoders.
    SegmentFileOptions options;
    options.trailer = SegmentFileOptions::Trailer::None;
    prepare(options);
    readAll();
    ASSERT_EQ(accepted, 1);
    const SweepPlan plan = planFor(good, 80, tilesAt(12500));
    sweep(plan.positions, plan.lengths);
    EXPECT_GT(refused, static_cast<int>(plan.lengths.size()));
}

// A tile whose bytes are the start of the tile decoded before it: the shared
// input buffer still holds the rest, and the decoder must not read on into it.
TEST_F(CorruptionTest, StaleBytesOfAnEarlierTileAreNotRead) {
    testsupport::TileContent big;
    big.lonIdx = 80 * 188;
    big.latIdx = 80 * 140;
    for (std::int32_t i = 0; i < 50; ++i) {
        testsupport::TileContent::Node node;
        node.ilon = 188000000 + 100 * i;
        node.ilat = 140000000 + 37 * i;
        node.elevation = static_cast<std::int16_t>(i);
        if (i > 0) {
            testsupport::TileContent::Link link;
            link.target = i - 1;
            link.wayTags = testsupport::CodedTagSet{{{1, 2}}};
            node.links.push_back(link);
        }
        big.nodes.push_back(node);
    }
    const Bytes first = testsupport::TileEncoder::encode(big);
    // The second tile: the first half of the first one's body, with a good footer of its own.
    const Bytes second =
        testsupport::TileEncoder::withFooter(std::span<const util::Byte>(first).first(first.size() / 2));
    // A file without trailer: square 15 (188/140) holds the two tiles 0 and 1.
    Bytes file(200, 0);
    std::vector<std::uint32_t> ends(6400);
    std::uint32_t end = 4 * 6400;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        end += k == 0   ? static_cast<std::uint32_t>(first.size())
               : k == 1 ? static_cast<std::uint32_t>(second.size())
                        : 0;
        ends[k] = end;
        for (int shift = 24; shift >= 0; shift -= 8) {
            file.push_back(static_cast<util::Byte>(ends[k] >> shift));
        }
    }
    file.insert(file.end(), first.begin(), first.end());
    file.insert(file.end(), second.begin(), second.end());
    for (std::size_t square = 0; square < 25; ++square) {
        const std::uint64_t squareEnd = square < 15 ? 200 : file.size();
        for (int i = 0; i < 8; ++i) {
            file[8 * square + static_cast<std::size_t>(i)] = static_cast<util::Byte>(squareEnd >> (56 - 8 * i));
        }
    }
    file[0] = 0;
    file[1] = 1;
    path = directory.file("E5_N50.rd5");
    write(file);

    PhysicalFile segment(jcompat::File(path), buffers, 1, 0);
    OsmFile square(&segment, 188, 140, buffers);
    EXPECT_EQ(square.createMicroCache(80 * 188, 80 * 140, buffers, &validator, nullptr, true, nullptr)->getSize(), 50);
    EXPECT_THROW(square.createMicroCache(80 * 188 + 1, 80 * 140, buffers, &validator, nullptr, true, nullptr),
                 jcompat::Throwable);
}

// A way tag set whose tags, all used, take more than the 256 bytes a filtered
// set may: the tile decodes (once, for every profile), and weaving it fails
// only for a profile that keeps too many of them; a damaged footer then says so first.
TEST(LongTagSets, FailWhereTheProfileKeepsTooManyOfThem) {
    testsupport::TileContent tile;
    tile.lonIdx = 80 * 188;
    tile.latIdx = 80 * 140;
    testsupport::TileContent::Node a;
    a.ilon = 188000100;
    a.ilat = 140000100;
    testsupport::TileContent::Node b = a;
    b.ilon += 500;
    testsupport::TileContent::Link link;
    link.target = 1;
    for (std::int32_t tag = 1; tag <= 60; ++tag) link.wayTags.pairs.emplace_back(tag, 1 << 20);
    a.links.push_back(link);
    tile.nodes = {a, b};

    for (const auto footer : {testsupport::TileEncoder::Footer::Current, testsupport::TileEncoder::Footer::Old}) {
        testsupport::TempDirectory directory;
        SegmentFileOptions options;
        options.tileFooter = footer;
        const Bytes file = testsupport::SegmentWriter::fileBytes({{{tile.lonIdx, tile.latIdx}, tile}}, options, 1);
        std::ofstream(directory.file("E5_N50.rd5"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        test::SegmentFiles files(directory.path(), 1);

        testsupport::TestTagValidator fewTags;
        for (std::int32_t tag = 4; tag <= 60; ++tag) fewTags.setUsed(tag, false);
        testsupport::TestTagValidator everyTag;
        if (footer == testsupport::TileEncoder::Footer::Current) {
            OsmNodesMap map;
            files.tileAt(a.ilon, a.ilat, &fewTags, &map);
            try {
                OsmNodesMap other;
                files.tileAt(a.ilon, a.ilat, &everyTag, &other);
                FAIL() << "woven";
            } catch (const jcompat::IndexOutOfBoundsException& e) {
                EXPECT_EQ(e.getMessage(), "Index 256 out of bounds for length 256");
            }
        } else {
            OsmNodesMap map;
            try {
                files.tileAt(a.ilon, a.ilat, &everyTag, &map);
                FAIL() << "woven";
            } catch (const jcompat::IOException& e) {
                EXPECT_EQ(e.getMessage(), "old, unsupported data-format");
            }
        }
    }
}

} // namespace
} // namespace ferrow::mapaccess
