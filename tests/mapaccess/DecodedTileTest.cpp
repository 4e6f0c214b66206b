// Decoded tiles: the shapes measured once for the search, and the process's
// cache of decoded tiles.
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/BExpressionMetaData.h"
#include "jcompat/File.h"
#include "mapaccess/DecodedTileCache.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNode.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"
#include "util/CheapAngleMeter.h"

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
        EXPECT_EQ(point.forwardAngle,
                  meter.calcAngle(lons[j - 1], lats[j - 1], lons[j], lats[j], lons[j + 1], lats[j + 1]));
        EXPECT_EQ(point.forwardCosine, meter.getCosAngle());
        EXPECT_EQ(point.backwardAngle,
                  meter.calcAngle(lons[j + 1], lats[j + 1], lons[j], lats[j], lons[j - 1], lats[j - 1]));
        EXPECT_EQ(point.backwardCosine, meter.getCosAngle());
        EXPECT_EQ(point.backwardAngle, -point.forwardAngle);
        EXPECT_EQ(point.backwardCosine, point.forwardCosine);
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

std::vector<util::Byte> bytes(std::initializer_list<int> values) {
    std::vector<util::Byte> result;
    for (const int v : values) result.push_back(static_cast<util::Byte>(v));
    return result;
}

TEST(DecodedTileCacheTest, ATileIsFoundByItsBytesAndPlace) {
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

TEST(DecodedTileCacheTest, TheLeastRecentlyUsedTilesLeaveAtTheByteBound) {
    // What one such tile counts, with its bytes and its entry.
    util::RetainedMemory unbounded;
    DecodedTileCache measure(unbounded);
    measure.insert(DecodedTileCache::Key{9, 0, 80}, bytes({9, 0, 0, 0, 0}), std::make_shared<const DecodedTile>());
    const std::size_t oneTile = measure.byteCount();
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

} // namespace
} // namespace ferrow::mapaccess
