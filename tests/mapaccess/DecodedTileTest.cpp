// Decoded tiles: the shapes measured once for the search, the process's cache
// of decoded tiles, and what each search weaves from one decoded tile.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/BExpressionContext.h"
#include "expressions/BExpressionMetaData.h"
#include "jcompat/Clock.h"
#include "jcompat/File.h"
#include "jcompat/RandomAccessFile.h"
#include "mapaccess/DecodedTileCache.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmPos.h"
#include "mapaccess/TileIndexCache.h"
#include "testsupport/FreshProcessState.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"
#include "util/CheapAngleMeter.h"
#include "util/ObjectPool.h"
#include "util/RetainedMemory.h"

namespace ferrow::mapaccess {
namespace {

using testsupport::NodeRef;
using testsupport::TestNetwork;

// A street from A over two bends to B, woven by a node cache.
class LinkShapes : public ::testing::Test {
protected:
    void SetUp() override {
        a_ = net_.node(8.0, 50.5).elevation(100.0);
        b_ = net_.node(8.003, 50.501).elevation(103.0);
        net_.way("highway=residential",
                 {a_, testsupport::shape(8.001, 50.5004, 101.0), testsupport::shape(8.002, 50.5002, 104.5), b_});
        testsupport::SegmentWriter().write(net_, segments_.path());
        meta_.lookupVersion = testsupport::LookupTagCoder::standard().lookupVersion();
        cache_ = std::make_unique<NodesCache>(jcompat::File(segments_.path()), validator_, meta_, false, 64 * 1048576LL,
                                              nullptr, false);
    }

    // The link from A to B, woven.
    const OsmLink& link() {
        const OsmNode position(net_.at(a_).ilon, net_.at(a_).ilat);
        OsmNode* start = cache_->getGraphNode(position);
        EXPECT_TRUE(cache_->obtainNonHollowNode(start));
        EXPECT_NE(start->firstLink, nullptr);
        return *start->firstLink;
    }

    TestNetwork net_;
    NodeRef a_;
    NodeRef b_;
    testsupport::TempDirectory segments_;
    testsupport::TestTagValidator validator_;
    expressions::BExpressionMetaData meta_;
    std::unique_ptr<NodesCache> cache_;
};

TEST_F(LinkShapes, PointsLengthsAndTurnsAsTheSearchWouldMeasureThem) {
    const LinkShape& shape = link().shape;
    ASSERT_TRUE(shape.present());
    ASSERT_EQ(shape.pointCount, 2);
    const TestNetwork::Node& a = net_.at(a_);
    const TestNetwork::Node& b = net_.at(b_);
    const std::int32_t lons[] = {a.ilon, shape.points[0].lon, shape.points[1].lon, b.ilon};
    const std::int32_t lats[] = {a.ilat, shape.points[0].lat, shape.points[1].lat, b.ilat};
    EXPECT_EQ(lons[1], testsupport::gridLon(8.001));
    EXPECT_EQ(lats[2], testsupport::gridLat(50.5002));
    // Elevations in quarter metres, as the geometry decoder gives them.
    EXPECT_EQ(shape.points[0].elevation, 404);
    EXPECT_EQ(shape.points[1].elevation, 418);
    // Each section's length is the graph's rounded distance.
    for (std::int32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(shape.sectionLength(k), OsmPos::roundedDistance(lons[k], lats[k], lons[k + 1], lats[k + 1])) << k;
    }
    // The turn at each point, both ways: angles of opposite sign, one cosine.
    util::CheapAngleMeter meter;
    for (std::int32_t j = 1; j <= 2; ++j) {
        const ShapePoint& point = shape.points[j - 1];
        EXPECT_EQ(point.angle(false),
                  meter.calcAngle(lons[j - 1], lats[j - 1], lons[j], lats[j], lons[j + 1], lats[j + 1]));
        EXPECT_EQ(point.cosine, meter.getCosAngle());
        EXPECT_EQ(point.angle(true),
                  meter.calcAngle(lons[j + 1], lats[j + 1], lons[j], lats[j], lons[j - 1], lats[j - 1]));
        EXPECT_EQ(point.cosine, meter.getCosAngle());
        EXPECT_EQ(point.angle(true), -point.angle(false));
    }
}

TEST_F(LinkShapes, ALinkReleasedAtBothEndsDropsItsShape) {
    OsmLink& street = const_cast<OsmLink&>(link());
    OsmNode* first = street.firstNode;
    OsmNode* second = street.secondNode;
    first->unlinkLink(&street);
    EXPECT_TRUE(street.shape.present()); // still usable from the other end
    second->unlinkLink(&street);
    EXPECT_FALSE(street.shape.present());
    EXPECT_TRUE(street.geometry.isNull());
}

// With no room for decoded tiles in the process, the tile goes as soon as it
// is woven: the graph keeps only its shape points, and those stay whole.
class LinkShapesWithoutDecodedTiles : public LinkShapes {
protected:
    void SetUp() override {
        util::RetainedMemory::instance().setBound(0);
        LinkShapes::SetUp();
    }
    void TearDown() override { cache_.reset(); }

    testsupport::FreshProcessState fresh_;
};

TEST_F(LinkShapesWithoutDecodedTiles, TheGraphKeepsTheShapePointsOfATileThatWentAfterWeaving) {
    const LinkShape& shape = link().shape;
    EXPECT_EQ(DecodedTileCache::instance().size(), 0U);
    ASSERT_TRUE(shape.present());
    ASSERT_EQ(shape.pointCount, 2);
    EXPECT_EQ(shape.points[0].lon, testsupport::gridLon(8.001));
    EXPECT_EQ(shape.points[0].lat, testsupport::gridLat(50.5004));
    EXPECT_EQ(shape.points[0].elevation, 404);
    EXPECT_EQ(shape.points[1].lon, testsupport::gridLon(8.002));
    EXPECT_EQ(shape.points[1].elevation, 418);
    const TestNetwork::Node& b = net_.at(b_);
    EXPECT_EQ(shape.lastDistance, OsmPos::roundedDistance(shape.points[1].lon, shape.points[1].lat, b.ilon, b.ilat));
}

TEST(LinkShapePoints, StraightOnAndRightBackReadTheSameBothWays) {
    static_assert(sizeof(ShapePoint) == 32, "two shape points to a cache line");
    // On a line from A: a point straight on, then one right back towards A.
    TestNetwork net;
    const std::int32_t lon = testsupport::gridLon(8.0);
    const std::int32_t lat = testsupport::gridLat(50.5);
    const NodeRef a = net.gridNode(lon, lat);
    const NodeRef b = net.gridNode(lon + 300, lat + 100);
    net.way("highway=residential", {a, testsupport::gridShape(lon + 100, lat), testsupport::gridShape(lon + 200, lat),
                                    testsupport::gridShape(lon + 150, lat), b});
    testsupport::TempDirectory segments;
    testsupport::SegmentWriter().write(net, segments.path());
    testsupport::TestTagValidator validator;
    expressions::BExpressionMetaData meta;
    meta.lookupVersion = testsupport::LookupTagCoder::standard().lookupVersion();
    NodesCache cache(jcompat::File(segments.path()), validator, meta, false, 64 * 1048576LL, nullptr, false);
    OsmNode* start = cache.getGraphNode(OsmNode(lon, lat));
    ASSERT_TRUE(cache.obtainNonHollowNode(start));
    const LinkShape& shape = start->firstLink->shape;
    ASSERT_EQ(shape.pointCount, 3);
    EXPECT_EQ(shape.points[0].angle(false), 0.0);
    EXPECT_EQ(shape.points[0].angle(true), 0.0);
    EXPECT_FALSE(std::signbit(shape.points[0].angle(true)));
    EXPECT_EQ(shape.points[1].angle(false), 180.0);
    EXPECT_EQ(shape.points[1].angle(true), 180.0);
    EXPECT_EQ(shape.points[1].cosine, -1.0);
    util::CheapAngleMeter meter;
    EXPECT_EQ(shape.points[2].angle(true), meter.calcAngle(lon + 300, lat + 100, lon + 150, lat, lon + 200, lat));
}

std::vector<util::Byte> bytes(std::initializer_list<int> values) {
    std::vector<util::Byte> result;
    for (const int v : values) result.push_back(static_cast<util::Byte>(v));
    return result;
}

// Caches of their own, and the process's with its bound and spare pool
// chunks, from a fresh process's state.
class DecodedTileCacheTest : public ::testing::Test {
protected:
    struct Slot {
        char bytes[16];
    };
    static constexpr std::size_t kChunk = 16 * sizeof(Slot);

    // What one tile of five bytes counts, with its bytes and its entry.
    static std::size_t tileCount() {
        util::RetainedMemory unbounded;
        DecodedTileCache measure(unbounded);
        measure.insert(DecodedTileCache::Key{9, 0, 80}, bytes({9, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
        return measure.byteCount();
    }
    // Ends a pool of one chunk, which it leaves as a spare chunk if there is
    // room; the chunk's first slot.
    static const Slot* endPoolOfOneChunk() {
        util::ObjectPool<Slot, 16> pool;
        return pool.create();
    }

    testsupport::FreshProcessState fresh_;
    util::RetainedMemory& memory_ = util::RetainedMemory::instance();
};

TEST_F(DecodedTileCacheTest, ATileIsFoundByItsBytesAndPlace) {
    util::RetainedMemory memory;
    DecodedTileCache cache(memory);
    const std::vector<util::Byte> tileBytes = bytes({1, 2, 3, 4, 5});
    const DecodedTileCache::Key key{100, 200, 80};
    auto tile = std::make_shared<const DecodedTile>();
    cache.insert(key, tileBytes, tile);
    EXPECT_EQ(cache.find(key, tileBytes), tile);
    // Other bytes (a file replaced on disk) or another place: not the same tile.
    EXPECT_EQ(cache.find(key, bytes({1, 2, 3, 4, 6})), nullptr);
    EXPECT_EQ(cache.find(key, bytes({1, 2, 3, 4})), nullptr);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{101, 200, 80}, tileBytes), nullptr);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{100, 201, 80}, tileBytes), nullptr);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{100, 200, 32}, tileBytes), nullptr);
}

TEST_F(DecodedTileCacheTest, ATileIsFoundWhereItsBytesWereReadUntilTheFileChanges) {
    util::RetainedMemory memory;
    DecodedTileCache cache(memory);
    const DecodedTileCache::Key key{100, 200, 80};
    const jcompat::FileVersion version{1, 2, 3000, 4000, 5000};
    const DecodedTileCache::Source source{version, 600, 5};
    auto tile = std::make_shared<const DecodedTile>();
    cache.insert(key, bytes({1, 2, 3, 4, 5}), tile, &source);
    EXPECT_EQ(cache.find(key, source), tile);
    EXPECT_EQ(cache.placedCount(), 1u);

    jcompat::FileVersion written = version;
    written.changedNanos += 1;
    EXPECT_EQ(cache.find(key, DecodedTileCache::Source{written, 600, 5}), nullptr);
    jcompat::FileVersion otherFile = version;
    otherFile.inode += 1;
    EXPECT_EQ(cache.find(key, DecodedTileCache::Source{otherFile, 600, 5}), nullptr);
    EXPECT_EQ(cache.find(key, DecodedTileCache::Source{version, 601, 5}), nullptr);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{101, 200, 80}, source), nullptr);

    // The same bytes read from the file's new version: found there, no longer at the old place.
    const DecodedTileCache::Source moved{written, 600, 5};
    EXPECT_EQ(cache.find(key, bytes({1, 2, 3, 4, 5}), &moved), tile);
    EXPECT_EQ(cache.find(key, moved), tile);
    EXPECT_EQ(cache.find(key, source), nullptr);
    EXPECT_EQ(cache.placedCount(), 1u);
    // A tile kept without a place is found by its bytes only.
    cache.insert(DecodedTileCache::Key{7, 7, 80}, bytes({7}), std::make_shared<const DecodedTile>());
    EXPECT_EQ(cache.placedCount(), 1u);
}

TEST_F(DecodedTileCacheTest, ATileThatLeftIsNotFoundAtItsPlace) {
    const std::size_t oneTile = tileCount();
    util::RetainedMemory memory(2 * oneTile);
    DecodedTileCache cache(memory);
    const jcompat::FileVersion version{1, 2, 3000, 4000, 5000};
    std::vector<DecodedTileCache::Source> sources;
    for (std::int32_t i = 0; i < 3; ++i) {
        sources.push_back(DecodedTileCache::Source{version, 1000 * i, 5});
        cache.insert(DecodedTileCache::Key{i, 0, 80}, bytes({i, 0, 0, 0, 0}), std::make_shared<const DecodedTile>(),
                     &sources.back());
    }
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.placedCount(), 2u);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{0, 0, 80}, sources[0]), nullptr);
    EXPECT_NE(cache.find(DecodedTileCache::Key{1, 0, 80}, sources[1]), nullptr);
    cache.clear();
    EXPECT_EQ(cache.placedCount(), 0u);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{2, 0, 80}, sources[2]), nullptr);
}

TEST_F(DecodedTileCacheTest, TheLeastRecentlyUsedTilesLeaveAtTheByteBound) {
    const std::size_t oneTile = tileCount();
    util::RetainedMemory memory(3 * oneTile);
    DecodedTileCache cache(memory);
    std::vector<std::shared_ptr<const DecodedTile>> tiles;
    for (std::int32_t i = 0; i < 3; ++i) {
        tiles.push_back(std::make_shared<const DecodedTile>());
        cache.insert(DecodedTileCache::Key{i, 0, 80}, bytes({i, 0, 0, 0, 0}), tiles.back());
    }
    ASSERT_EQ(cache.size(), 3u);
    // Tile 0 is used again; the fourth one then pushes out tile 1.
    EXPECT_EQ(cache.find(DecodedTileCache::Key{0, 0, 80}, bytes({0, 0, 0, 0, 0})), tiles[0]);
    cache.insert(DecodedTileCache::Key{3, 0, 80}, bytes({3, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
    EXPECT_LE(cache.byteCount(), 3 * oneTile);
    EXPECT_EQ(memory.used(), cache.byteCount());
    EXPECT_NE(cache.find(DecodedTileCache::Key{0, 0, 80}, bytes({0, 0, 0, 0, 0})), nullptr);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{1, 0, 80}, bytes({1, 0, 0, 0, 0})), nullptr);
    EXPECT_NE(cache.find(DecodedTileCache::Key{3, 0, 80}, bytes({3, 0, 0, 0, 0})), nullptr);
}

TEST_F(DecodedTileCacheTest, SparePoolChunksMakeRoomBeforeTiles) {
    const std::size_t oneTile = tileCount();
    ASSERT_LT(kChunk, oneTile);
    // Room for the chunk and one tile, or two tiles, not for all three.
    memory_.setBound(2 * oneTile + kChunk / 2);
    endPoolOfOneChunk();
    EXPECT_EQ(memory_.used(), kChunk);
    DecodedTileCache cache;
    cache.insert(DecodedTileCache::Key{0, 0, 80}, bytes({0, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
    cache.insert(DecodedTileCache::Key{1, 0, 80}, bytes({1, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(memory_.used(), 2 * oneTile); // the chunk went, the tiles stay
    cache.insert(DecodedTileCache::Key{2, 0, 80}, bytes({2, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
    EXPECT_EQ(cache.size(), 2u); // then the oldest tile
    EXPECT_EQ(cache.find(DecodedTileCache::Key{0, 0, 80}, bytes({0, 0, 0, 0, 0})), nullptr);
    endPoolOfOneChunk(); // no room for a spare chunk now
    EXPECT_EQ(memory_.used(), 2 * oneTile);
    cache.clear();
    EXPECT_EQ(memory_.used(), 0u);
}

TEST_F(DecodedTileCacheTest, ATileLargerThanTheWholeBoundIsNotKeptAndDisplacesNothing) {
    const std::size_t oneTile = tileCount();
    memory_.setBound(2 * oneTile + kChunk);
    const Slot* spare = endPoolOfOneChunk();
    DecodedTileCache cache;
    cache.insert(DecodedTileCache::Key{0, 0, 80}, bytes({0, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
    ASSERT_EQ(memory_.used(), oneTile + kChunk);
    // Its bytes alone fill the bound; with its entry it exceeds it.
    const std::vector<util::Byte> large(2 * oneTile + kChunk, util::Byte{7});
    cache.insert(DecodedTileCache::Key{1, 0, 80}, large, std::make_shared<const DecodedTile>());
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.find(DecodedTileCache::Key{1, 0, 80}, large), nullptr);
    EXPECT_NE(cache.find(DecodedTileCache::Key{0, 0, 80}, bytes({0, 0, 0, 0, 0})), nullptr);
    EXPECT_EQ(cache.byteCount(), oneTile);
    EXPECT_EQ(memory_.used(), oneTile + kChunk);
    // The spare chunk is still kept: the next pool of its kind takes it.
    util::ObjectPool<Slot, 16> later;
    EXPECT_EQ(later.create(), spare);
}

// ---- one decoded tile, woven by searches of different profiles ----

using Bytes = std::vector<util::Byte>;
Bytes bytesOf(std::span<const util::Byte> bytes) { return Bytes(bytes.begin(), bytes.end()); }

class SharedTiles : public ::testing::Test {
protected:
    SharedTiles() { meta_.lookupVersion = testsupport::LookupTagCoder::standard().lookupVersion(); }

    std::unique_ptr<NodesCache> newCache(testsupport::TestTagValidator& validator) {
        return std::make_unique<NodesCache>(jcompat::File(segments_.path()), validator, meta_, false, 64 * 1048576LL,
                                            nullptr, false);
    }

    // The way tags of the links of the woven node at ref, by the other end's longitude.
    std::vector<std::pair<std::int32_t, Bytes>> wovenLinks(testsupport::TestTagValidator& validator, NodeRef ref) {
        auto cache = newCache(validator);
        OsmNode* node = cache->getGraphNode(OsmNode(net_.at(ref).ilon, net_.at(ref).ilat));
        EXPECT_TRUE(cache->obtainNonHollowNode(node));
        std::vector<std::pair<std::int32_t, Bytes>> links;
        for (const OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
            links.emplace_back(link->getTarget(node)->ilon, bytesOf(link->wayTags));
        }
        std::sort(links.begin(), links.end());
        return links;
    }

    // A residential street from the west ends at the centre, where a street
    // with eastTags goes on east; all in one tile, written out.
    struct Street {
        NodeRef west;
        NodeRef centre;
        NodeRef east;
    };
    Street writeStreet(const char* eastTags) {
        const Street street{net_.node(8.003, 50.505), net_.node(8.005, 50.505), net_.node(8.007, 50.505)};
        net_.way("highway=residential", {street.west, street.centre});
        net_.way(eastTags, {street.centre, street.east});
        testsupport::SegmentWriter().write(net_, segments_.path());
        return street;
    }

    static Bytes coded(const char* tags) {
        return bytesOf(testsupport::LookupTagCoder::standard().wayTags(tags).toBytes());
    }
    static int tagIndex(const char* name) {
        return testsupport::LookupTagCoder::standard().wayContext().getLookupNameIdx(name);
    }

    // The process's decoded tiles: none at first.
    testsupport::FreshProcessState fresh_;
    TestNetwork net_;
    testsupport::TempDirectory segments_;
    expressions::BExpressionMetaData meta_;
};

TEST_F(SharedTiles, EachSearchFiltersTheTileThroughItsOwnProfile) {
    // One tile: its links carry the tags at both ends.
    const auto [west, centre, east] = writeStreet("highway=service surface=asphalt");
    const std::int32_t westLon = net_.at(west).ilon;
    const std::int32_t eastLon = net_.at(east).ilon;

    testsupport::TestTagValidator everyTag;
    testsupport::TestTagValidator withoutHighway;
    withoutHighway.setUsed(tagIndex("highway"), false);
    testsupport::TestTagValidator noService;
    noService.classify = [](const util::ByteArray& tags) {
        return bytesOf(tags) == coded("highway=service surface=asphalt") ? 0 : 2;
    };

    const std::vector<std::pair<std::int32_t, Bytes>> all{{westLon, coded("highway=residential")},
                                                          {eastLon, coded("highway=service surface=asphalt")}};
    EXPECT_EQ(wovenLinks(everyTag, centre), all);
    EXPECT_EQ(DecodedTileCache::instance().size(), 1u);
    // The residential street has no tag left this profile uses.
    EXPECT_EQ(wovenLinks(withoutHighway, centre),
              (std::vector<std::pair<std::int32_t, Bytes>>{{eastLon, coded("surface=asphalt")}}));
    EXPECT_EQ(wovenLinks(noService, centre),
              (std::vector<std::pair<std::int32_t, Bytes>>{{westLon, coded("highway=residential")}}));
    EXPECT_EQ(wovenLinks(everyTag, centre), all);
    EXPECT_EQ(DecodedTileCache::instance().size(), 1u); // decoded once for all of them
}

TEST_F(SharedTiles, ATileKeepsItsWayTagsAsFilteredForAValidatorIdentity) {
    const NodeRef centre = writeStreet("highway=service").centre;

    testsupport::TestTagValidator validator;
    validator.identity = 7;
    const std::vector<std::pair<std::int32_t, Bytes>> links = wovenLinks(validator, centre);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(validator.filterCalls, 2);
    EXPECT_EQ(wovenLinks(validator, centre), links);
    EXPECT_EQ(validator.filterCalls, 2); // kept by the tile
    validator.identity = 8;
    EXPECT_EQ(wovenLinks(validator, centre), links);
    EXPECT_EQ(validator.filterCalls, 4);
    // A validator that cannot tell its identity filters every time.
    testsupport::TestTagValidator anonymous;
    EXPECT_EQ(wovenLinks(anonymous, centre), links);
    EXPECT_EQ(wovenLinks(anonymous, centre), links);
    EXPECT_EQ(anonymous.filterCalls, 4);
}

// Whether every file in directory has settled: a later write would give it another version.
bool settled(const std::string& directory) {
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const jcompat::RandomAccessFile file(jcompat::File(entry.path().string()));
        if (!file.version().settled(jcompat::currentTimeMillis())) return false;
    }
    return true;
}

void awaitSettled(const std::string& directory) {
    while (!settled(directory)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(SharedTiles, ATileOfASettledFileIsFoundWithoutItsBytesUntilTheFileIsWritten) {
    const NodeRef centre = net_.node(8.005, 50.505);
    const NodeRef west = net_.node(8.003, 50.505);
    net_.way("highway=residential", {west, centre});
    testsupport::SegmentWriter().write(net_, segments_.path());
    const std::int32_t westLon = net_.at(west).ilon;
    testsupport::TestTagValidator validator;
    DecodedTileCache& tiles = DecodedTileCache::instance();

    const std::vector<std::pair<std::int32_t, Bytes>> residential{{westLon, coded("highway=residential")}};
    EXPECT_EQ(wovenLinks(validator, centre), residential);
    // Just written: found by its bytes only (unless the machine stalled for a second).
    if (!settled(segments_.path())) {
        EXPECT_EQ(tiles.placedCount(), 0u);
    }
    awaitSettled(segments_.path());
    EXPECT_EQ(wovenLinks(validator, centre), residential);
    EXPECT_EQ(tiles.size(), 1u);
    EXPECT_EQ(tiles.placedCount(), 1u);
    EXPECT_EQ(TileIndexCache::instance().size(), 1u);
    EXPECT_EQ(wovenLinks(validator, centre), residential); // from its place

    // The same nodes, the street retagged: the file written again is read again.
    TestNetwork retagged;
    retagged.way("highway=service", {retagged.node(8.003, 50.505), retagged.node(8.005, 50.505)});
    testsupport::SegmentWriter().write(retagged, segments_.path());
    const std::vector<std::pair<std::int32_t, Bytes>> service{{westLon, coded("highway=service")}};
    EXPECT_EQ(wovenLinks(validator, centre), service);
    awaitSettled(segments_.path());
    EXPECT_EQ(wovenLinks(validator, centre), service);
    EXPECT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles.placedCount(), 2u);
    EXPECT_EQ(TileIndexCache::instance().size(), 2u);
}

TEST_F(SharedTiles, MatchingAsksTheStartWayRuleOfItsOwnRun) {
    const NodeRef a = net_.node(8.0, 50.5);
    const NodeRef b = net_.node(8.002, 50.5);
    net_.way("highway=residential", {a, b});
    testsupport::SegmentWriter().write(net_, segments_.path());

    testsupport::TestTagValidator validator;
    const auto firstMatched = [&](bool mayStart) {
        validator.startWay = [mayStart](const util::ByteArray&) { return mayStart; };
        std::vector<MatchedWaypoint> waypoints(2);
        waypoints[0].waypoint = std::make_shared<OsmNode>(net_.at(a).ilon + 500, net_.at(a).ilat + 100);
        waypoints[1].waypoint = std::make_shared<OsmNode>(net_.at(b).ilon - 500, net_.at(b).ilat + 100);
        newCache(validator)->matchWaypointsToNodes(waypoints, 250.0, nullptr);
        EXPECT_NE(waypoints[1].crossPoint, nullptr); // the other waypoints are matched anyway
        return waypoints[0].crossPoint != nullptr;
    };
    EXPECT_FALSE(firstMatched(false));
    EXPECT_TRUE(firstMatched(true)); // the same tile, decoded before
    EXPECT_FALSE(firstMatched(false));
}

// Two tile nodes at one position, P and Q, each the end of one street: the
// node the map knows there takes both when it is an end node of the search,
// else only the first. The same whichever side of the look-up is smaller.
TEST_F(SharedTiles, TileNodesAtAKnownPosition) {
    const NodeRef west = net_.node(7.999, 50.5);
    const NodeRef p = net_.node(8.0, 50.5);
    const NodeRef q = net_.node(8.0, 50.5);
    const NodeRef east = net_.node(8.001, 50.5);
    net_.way("highway=residential", {west, p});
    net_.way("highway=residential", {q, east});
    testsupport::SegmentFileOptions sharing;
    sharing.sharedPositions = true;
    testsupport::SegmentWriter().defaults(sharing).write(net_, segments_.path());
    const std::int64_t westId = OsmPos::idFromPos(net_.at(west).ilon, net_.at(west).ilat);
    const std::int64_t eastId = OsmPos::idFromPos(net_.at(east).ilon, net_.at(east).ilat);

    testsupport::TestTagValidator validator;
    for (const bool endNode : {true, false}) {
        for (const int extraKnown : {0, 10}) { // 10 more known nodes than the tile's 4
            auto cache = newCache(validator);
            OsmNodesMap& map = cache->nodesMap();
            OsmNode* known = cache->getGraphNode(OsmNode(net_.at(p).ilon, net_.at(p).ilat));
            if (endNode) map.endNode1 = known;
            for (int i = 0; i < extraKnown; ++i) cache->getGraphNode(OsmNode(net_.at(p).ilon, 1000 + i));
            ASSERT_TRUE(cache->obtainNonHollowNode(known));
            std::set<std::int64_t> targets;
            for (const OsmLink* link = known->firstLink; link != nullptr; link = link->getNext(known)) {
                targets.insert(link->getTarget(known)->getIdFromPos());
            }
            const std::set<std::int64_t> expected =
                endNode ? std::set<std::int64_t>{westId, eastId} : std::set<std::int64_t>{westId};
            EXPECT_EQ(targets, expected) << "end node " << endNode << ", extra known nodes " << extraKnown;
        }
    }
}

} // namespace
} // namespace ferrow::mapaccess
