#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/LinkedListContainer.h"
#include "codec/MicroCache.h"
#include "codec/MicroCache2.h"
#include "codec/StatCoderContext.h"
#include "jcompat/Exceptions.h"
#include "testsupport/HandTiles.h"
#include "testsupport/TestTagValidator.h"
#include "testsupport/TileEncoder.h"
#include "util/ByteArrayUnifier.h"

namespace ferrow::codec {
namespace {

namespace hand = testsupport::hand_tiles;
using Bytes = std::vector<util::Byte>;

Bytes withFooter(std::span<const util::Byte> body) { return testsupport::TileEncoder::withFooter(body); }

void appendInt(Bytes& out, std::int32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<util::Byte>(static_cast<std::uint32_t>(v) >> shift));
    }
}

std::int64_t nodeId(std::int32_t ilon, std::int32_t ilat) { return (static_cast<std::int64_t>(ilon) << 32) | ilat; }

Bytes packBits(const std::string& bits) {
    Bytes bytes((bits.size() + 7) / 8);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            bytes[i / 8] = static_cast<util::Byte>(bytes[i / 8] | (1U << (i % 8)));
        }
    }
    return bytes;
}

// The record that getAndClear opened.
Bytes takeRecord(MicroCache& tile, std::int64_t id) {
    if (!tile.getAndClear(id)) {
        return {};
    }
    const util::ByteArray record = tile.readCopy(tile.getEnd() - tile.getPosition());
    return Bytes(record.span().begin(), record.span().end());
}

class MicroCacheTest : public ::testing::Test {
protected:
    std::unique_ptr<MicroCache2> decode(const Bytes& tile, expressions::TagValueValidator* tagValidator) {
        StatCoderContext coder(tile);
        return std::make_unique<MicroCache2>(coder, buffers, hand::LON_IDX, hand::LAT_IDX, 80, tagValidator, nullptr,
                                             static_cast<std::int32_t>(tile.size()));
    }

    DataBuffers buffers;
    testsupport::TestTagValidator validator;
};

TEST_F(MicroCacheTest, WriterProducesTheHandWorkedBodies) {
    EXPECT_EQ(testsupport::TileEncoder::encodeBody(hand::trivialContent()),
              Bytes(hand::TRIVIAL_BODY.begin(), hand::TRIVIAL_BODY.end()));
    EXPECT_EQ(testsupport::TileEncoder::encodeBody(hand::linkedContent()),
              Bytes(hand::LINKED_BODY.begin(), hand::LINKED_BODY.end()));
    EXPECT_EQ(testsupport::TileEncoder::recordSize(hand::linkedContent()), 45);
}

TEST_F(MicroCacheTest, TileWithoutLinksDecodesToNoNodes) {
    const auto tile = decode(withFooter(hand::TRIVIAL_BODY), &validator);
    EXPECT_EQ(tile->getSize(), 0);
    EXPECT_FALSE(tile->getAndClear(nodeId(hand::ORIGIN_LON + 1, hand::ORIGIN_LAT + 2)));
    EXPECT_TRUE(tile->isPristine());
}

TEST_F(MicroCacheTest, LinkedTileRecordsAreExact) {
    const Bytes bytes = withFooter(hand::LINKED_BODY);
    const auto tile = decode(bytes, &validator);
    ASSERT_EQ(tile->getSize(), 2);
    EXPECT_EQ(tile->nodeIds()[0], 2);
    EXPECT_EQ(tile->nodeIds()[1], 5);

    // A: no restriction, elevation 8, no tags, link to B (+3, -1) with W and the point (+1, 0, -2).
    EXPECT_EQ(takeRecord(*tile, nodeId(hand::ORIGIN_LON, hand::ORIGIN_LAT + 1)),
              (Bytes{0x00, 0x00, 0x08, 0x00, 0x07, 0x06, 0x03, 0x02, 0x1A, 0x02, 0x00, 0x05}));

    Bytes b{0x01, 0x00, 0x01, 0x00};
    appendInt(b, hand::ORIGIN_LON);
    appendInt(b, hand::ORIGIN_LAT + 1);
    appendInt(b, hand::ORIGIN_LON + 3 + hand::EXTERNAL_DLON);
    appendInt(b, hand::ORIGIN_LAT + hand::EXTERNAL_DLAT);
    // end of restrictions, elevation 20, tags N, link to E (12500 -> 0xA8 0xC3 0x01, -4 -> 0x09) with W,
    // then the reverse record of A's link: (-3, +1), mode 1.
    for (util::Byte v :
         {0x00, 0x00, 0x14, 0x02, 0x26, 0x01, 0x06, 0xA8, 0xC3, 0x01, 0x09, 0x02, 0x1A, 0x03, 0x07, 0x02, 0x01}) {
        b.push_back(v);
    }
    EXPECT_EQ(takeRecord(*tile, nodeId(hand::ORIGIN_LON + 3, hand::ORIGIN_LAT)), b);
    EXPECT_EQ(takeRecord(*tile, nodeId(hand::ORIGIN_LON + 3, hand::ORIGIN_LAT)), Bytes{}) << "taken once";
}

TEST_F(MicroCacheTest, LinksWithoutUsedTagsAreDropped) {
    validator.setUsed(1, false);
    EXPECT_EQ(decode(withFooter(hand::LINKED_BODY), &validator)->getSize(), 0);
    // Without a validator every link is written, tagged or not.
    EXPECT_EQ(decode(withFooter(hand::LINKED_BODY), nullptr)->getSize(), 2);
}

TEST_F(MicroCacheTest, CollectCompactsTakenRecords) {
    const auto tile = decode(withFooter(hand::LINKED_BODY), &validator);
    const std::int32_t before = tile->getDataSize();
    EXPECT_EQ(tile->collect(0), 0);
    ASSERT_EQ(takeRecord(*tile, nodeId(hand::ORIGIN_LON, hand::ORIGIN_LAT + 1)).size(), 12U);
    EXPECT_EQ(tile->collect(1), 0) << "not more than the threshold taken";
    EXPECT_EQ(tile->collect(0), 12);
    EXPECT_FALSE(tile->isPristine());
    EXPECT_EQ(tile->getSize(), 1);
    EXPECT_EQ(tile->getDataSize(), before - 12);
    EXPECT_EQ(takeRecord(*tile, nodeId(hand::ORIGIN_LON + 3, hand::ORIGIN_LAT)).size(), 37U);
    EXPECT_EQ(tile->collect(0), 37);
    EXPECT_EQ(tile->getSize(), 0);
}

TEST_F(MicroCacheTest, FirstFeature13IsAnEmptyNode) {
    // The trivial tile with record size 0 and a node that is only feature 13 (0001 011).
    const Bytes body = packBits(
        "01"
        "01"
        "11111"
        "100001" +
        std::string(26, '0') + "1001" +
        "0000000000"
        "1" +
        "0001011");
    const auto tile = decode(withFooter(body), &validator);
    ASSERT_EQ(tile->getSize(), 1);
    EXPECT_EQ(takeRecord(*tile, nodeId(hand::ORIGIN_LON + 1, hand::ORIGIN_LAT + 2)), Bytes{});
}

TEST_F(MicroCacheTest, IdentifiersExpandAndShrink) {
    const auto tile = decode(withFooter(hand::LINKED_BODY), &validator);
    EXPECT_EQ(tile->expandId(0), nodeId(hand::ORIGIN_LON, hand::ORIGIN_LAT));
    EXPECT_EQ(tile->expandId(9), nodeId(hand::ORIGIN_LON + 1, hand::ORIGIN_LAT + 2));
    for (std::int32_t dx : {0, 1, 777, 12499}) {
        for (std::int32_t dy : {0, 2, 4095, 12499}) {
            const std::int64_t id = nodeId(hand::ORIGIN_LON + dx, hand::ORIGIN_LAT + dy);
            EXPECT_EQ(tile->expandId(tile->shrinkId(id)), id);
        }
    }
    MicroCache empty;
    try {
        empty.expandId(0);
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "expandId for empty cache");
    }
    EXPECT_THROW(empty.shrinkId(0), jcompat::IllegalArgumentException);
    EXPECT_FALSE(empty.getAndClear(0));
    EXPECT_FALSE(MicroCache::emptyNonPristineCache()->isPristine());
    EXPECT_TRUE(MicroCache::emptyCache()->isPristine());
}

TEST_F(MicroCacheTest, RecordSizeAboveTheBufferGetsAnOwnArray) {
    testsupport::TileContent content = hand::linkedContent();
    content.nodes[0].links[0].points.assign(30000, testsupport::TileContent::Point{0, 0, 1});
    const Bytes bytes = testsupport::TileEncoder::encode(content);
    ASSERT_GT(testsupport::TileEncoder::recordSize(content), DataBuffers::RECORD_BUFFER_SIZE);
    const auto tile = decode(bytes, &validator);
    EXPECT_EQ(tile->getSize(), 2);
    EXPECT_GT(tile->getDataSize(), DataBuffers::RECORD_BUFFER_SIZE);
}

TEST(LinkedListContainerTest, ListsReturnNewestFirst) {
    std::vector<std::int32_t> data(2);
    std::vector<std::int32_t> heads{5, 5, 5}; // stale heads of an earlier use
    LinkedListContainer lists(3, data, heads);
    for (std::int32_t v = 0; v < 10; ++v) {
        lists.addDataElement(v % 2, v);
    }
    EXPECT_EQ(lists.initList(2), 0);
    ASSERT_EQ(lists.initList(1), 5);
    for (std::int32_t expected : {9, 7, 5, 3, 1}) {
        EXPECT_EQ(lists.getDataElement(), expected);
    }
    try {
        lists.getDataElement();
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "no more element!");
    }
}

} // namespace
} // namespace ferrow::codec
