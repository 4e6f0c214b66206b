#include <gtest/gtest.h>

#include <vector>

#include "codec/DataBuffers.h"
#include "codec/MicroCache2.h"
#include "codec/StatCoderContext.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/DirectWeaver.h"
#include "mapaccess/GeometryDecoder.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"
#include "testsupport/HandTiles.h"
#include "testsupport/TestTagValidator.h"
#include "testsupport/TileEncoder.h"

// The hand-worked tiles decoded into the graph, by weaving and through node records.
namespace ferrow::mapaccess {
namespace {

namespace hand = testsupport::hand_tiles;
using Bytes = std::vector<util::Byte>;

Bytes withFooter(std::span<const util::Byte> body) { return testsupport::TileEncoder::withFooter(body); }

Bytes bytesOf(std::span<const util::Byte> bytes) { return Bytes(bytes.begin(), bytes.end()); }

OsmLink* linkTo(OsmNode* node, std::int32_t ilon, std::int32_t ilat) {
    for (OsmLink* l = node->firstLink; l != nullptr; l = l->getNext(node)) {
        const OsmNode* target = l->getTarget(node);
        if (target->ilon == ilon && target->ilat == ilat) {
            return l;
        }
    }
    return nullptr;
}

constexpr std::int32_t A_LON = hand::ORIGIN_LON;
constexpr std::int32_t A_LAT = hand::ORIGIN_LAT + 1;
constexpr std::int32_t B_LON = hand::ORIGIN_LON + 3;
constexpr std::int32_t B_LAT = hand::ORIGIN_LAT;
constexpr std::int32_t E_LON = B_LON + hand::EXTERNAL_DLON;
constexpr std::int32_t E_LAT = B_LAT + hand::EXTERNAL_DLAT;

class HandTileDecodeTest : public ::testing::Test {
protected:
    void weave(const Bytes& tile) {
        codec::StatCoderContext coder(tile);
        const auto decoded = std::make_shared<DecodedTile>(DecodedTile::decode(
            coder, buffers, hand::LON_IDX, hand::LAT_IDX, 80, static_cast<std::int32_t>(tile.size())));
        DirectWeaver(decoded, map, DirectWeaver::filterWayTags(*decoded, validator, buffers.wayTagSets), validator,
                     nullptr);
    }

    // The checks shared by both ways of decoding: B and what hangs on it.
    void expectLinkedGraph(OsmNode* b) {
        EXPECT_EQ(b->selev, 20);
        EXPECT_EQ(bytesOf(b->nodeTags), (Bytes{0x26, 0x01}));
        ASSERT_NE(b->firstRestriction, nullptr);
        const TurnRestriction& r = *b->firstRestriction;
        EXPECT_EQ(r.next, nullptr);
        EXPECT_FALSE(r.isPositive);
        EXPECT_EQ(r.exceptions, 1);
        EXPECT_EQ(r.fromLon, A_LON);
        EXPECT_EQ(r.fromLat, A_LAT);
        EXPECT_EQ(r.toLon, E_LON);
        EXPECT_EQ(r.toLat, E_LAT);
        EXPECT_TRUE(TurnRestriction::isTurnForbidden(b->firstRestriction, A_LON, A_LAT, E_LON, E_LAT, false, false));

        OsmLink* be = linkTo(b, E_LON, E_LAT);
        ASSERT_NE(be, nullptr);
        EXPECT_EQ(be->firstNode, b);
        EXPECT_EQ(bytesOf(be->wayTags), (Bytes{0x1A}));
        EXPECT_TRUE(be->geometry.isNull());
        OsmNode* e = map.get(E_LON, E_LAT);
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(e->isHollow());

        OsmLink* ba = linkTo(b, A_LON, A_LAT);
        ASSERT_NE(ba, nullptr);
        OsmNode* a = ba->getTarget(b);
        EXPECT_EQ(ba->firstNode, a) << "the link runs from A to B";
        EXPECT_EQ(bytesOf(ba->wayTags), (Bytes{0x1A}));
        EXPECT_EQ(bytesOf(ba->geometry.span()), (Bytes{0x02, 0x00, 0x05}));
        EXPECT_EQ(a->selev, 8);
        EXPECT_TRUE(a->nodeTags.isNull());
        GeometryDecoder decoder;
        const OsmTransferNode* point = decoder.decodeGeometry(ba->geometry, a, b, false);
        ASSERT_NE(point, nullptr);
        EXPECT_EQ(point->ilon, A_LON + 1);
        EXPECT_EQ(point->ilat, A_LAT);
        EXPECT_EQ(point->selev, 6);
        EXPECT_EQ(point->next, nullptr);
    }

    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
    OsmNodesMap map;
};

TEST_F(HandTileDecodeTest, WeavingCompletesAHollowNodeInPlace) {
    OsmNode* b = map.createNode(B_LON, B_LAT);
    b->setHollow();
    map.put(b);
    weave(withFooter(hand::LINKED_BODY));
    EXPECT_EQ(map.get(B_LON, B_LAT), nullptr) << "a completed node leaves the node table";
    expectLinkedGraph(b);
    EXPECT_EQ(map.nodeTable().size(), 1U) << "only the hollow target outside";
    EXPECT_EQ(map.nodeCount, 2);
}

TEST_F(HandTileDecodeTest, EndNodesStayInTheNodeTable) {
    OsmNode* b = map.createNode(B_LON, B_LAT);
    b->setHollow();
    map.put(b);
    map.endNode1 = b;
    weave(withFooter(hand::LINKED_BODY));
    EXPECT_EQ(map.get(B_LON, B_LAT), b);
}

TEST_F(HandTileDecodeTest, PeninsulaCutDropsTheDeadEnd) {
    OsmNode* b = map.createNode(B_LON, B_LAT);
    b->setHollow();
    map.put(b);
    map.cleanupMode = 1;
    weave(withFooter(hand::LINKED_BODY));
    EXPECT_EQ(linkTo(b, A_LON, A_LAT), nullptr) << "A hangs on B by one link and reaches nothing else";
    EXPECT_NE(linkTo(b, E_LON, E_LAT), nullptr);
}

TEST_F(HandTileDecodeTest, NodeRecordsFillNodesLikeWeaving) {
    const Bytes tile = withFooter(hand::LINKED_BODY);
    codec::StatCoderContext coder(tile);
    codec::MicroCache2 cache(coder, buffers, hand::LON_IDX, hand::LAT_IDX, 80, &validator, nullptr,
                             static_cast<std::int32_t>(tile.size()));
    OsmNode* b = map.createNode(B_LON, B_LAT);
    b->setHollow();
    map.put(b);
    ASSERT_TRUE(cache.getAndClear(b->getIdFromPos()));
    b->parseNodeBody(cache, map, map.byteArrayUnifier());
    EXPECT_EQ(map.get(B_LON, B_LAT), nullptr);

    OsmNode* a = map.get(A_LON, A_LAT);
    ASSERT_NE(a, nullptr) << "B's reverse record made A hollow";
    ASSERT_TRUE(cache.getAndClear(a->getIdFromPos()));
    a->parseNodeBody(cache, map, map.byteArrayUnifier());
    expectLinkedGraph(b);
    EXPECT_EQ(linkTo(a, B_LON, B_LAT), linkTo(b, A_LON, A_LAT)) << "one link object from both ends";
}

TEST_F(HandTileDecodeTest, EmptyRecordGivesANodeWithoutData) {
    // The trivial tile with record size 0 and a node that is only feature 13
    // (0001 011): the decoded tile keeps the node with an empty record.
    testsupport::TileContent content = hand::trivialContent();
    const Bytes tile = withFooter(Bytes{0xFA, 0x43, 0x00, 0x00, 0x00, 0x12, 0x80, 0x68});
    codec::StatCoderContext coder(tile);
    codec::MicroCache2 cache(coder, buffers, hand::LON_IDX, hand::LAT_IDX, 80, &validator, nullptr,
                             static_cast<std::int32_t>(tile.size()));
    OsmNode node(content.nodes[0].ilon, content.nodes[0].ilat);
    node.setHollow();
    ASSERT_TRUE(cache.getAndClear(node.getIdFromPos()));
    node.parseNodeBody(cache, map, map.byteArrayUnifier());
    EXPECT_EQ(node.selev, OsmNode::NO_ELEVATION);
    EXPECT_EQ(node.firstLink, nullptr);
}

TEST_F(HandTileDecodeTest, WeavingSkipsFeature13ByItsLength) {
    testsupport::TileContent content = hand::linkedContent();
    content.nodes[1].otherFeatures.push_back(testsupport::TileContent::OtherFeature{13, 40});
    content.nodes[0].otherFeatures.push_back(testsupport::TileContent::OtherFeature{9, 3});
    OsmNode* b = map.createNode(B_LON, B_LAT);
    b->setHollow();
    map.put(b);
    weave(testsupport::TileEncoder::encode(content));
    expectLinkedGraph(b);
}

TEST_F(HandTileDecodeTest, UnknownTileKindCannotFillANode) {
    codec::MicroCache empty;
    OsmNode node(1, 1);
    try {
        node.parseNodeBody(empty, map, map.byteArrayUnifier());
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "unknown cache version: MicroCache");
    }
}

} // namespace
} // namespace ferrow::mapaccess
