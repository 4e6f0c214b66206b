#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "mapaccess/GeometryDecoder.h"
#include "mapaccess/OsmNode.h"
#include "util/ByteDataWriter.h"

namespace ferrow::mapaccess {
namespace {

using Point = std::tuple<std::int32_t, std::int32_t, std::int16_t>;

std::vector<Point> pointsOf(const OsmTransferNode* head) {
    std::vector<Point> points;
    for (const OsmTransferNode* p = head; p != nullptr; p = p->next) {
        points.emplace_back(p->ilon, p->ilat, p->selev);
    }
    return points;
}

util::ByteArray geometryOf(const std::vector<std::int32_t>& triples) {
    std::vector<util::Byte> buffer(triples.size() * 5);
    util::ByteDataWriter writer(buffer);
    for (std::int32_t v : triples) {
        writer.writeSignedVarLength(v);
    }
    return util::ByteArray::copyOf(std::span<const util::Byte>(buffer).first(writer.getPosition()));
}

TEST(GeometryDecoderTest, ForwardAndReverseRunFromSourceToTarget) {
    OsmNode first(1000, 2000);
    first.selev = 40;
    OsmNode second(1100, 2100);
    // Hand-coded bytes: (+10, +5, +4), then (-3, +20, -8): 0x14 0x0A 0x08, 0x07 0x28 0x11.
    const util::ByteArray geometry =
        util::ByteArray::copyOf(std::vector<util::Byte>{0x14, 0x0A, 0x08, 0x07, 0x28, 0x11});

    GeometryDecoder decoder;
    EXPECT_EQ(pointsOf(decoder.decodeGeometry(geometry, &first, &second, false)),
              (std::vector<Point>{{1010, 2005, 44}, {1007, 2025, 36}}));
    // Travelled from the second node: the same points, nearest to the source first.
    EXPECT_EQ(pointsOf(decoder.decodeGeometry(geometry, &second, &first, true)),
              (std::vector<Point>{{1007, 2025, 36}, {1010, 2005, 44}}));
}

TEST(GeometryDecoderTest, SameArrayAndDirectionGivesTheSameList) {
    OsmNode a(0, 0);
    OsmNode b(100, 0);
    const util::ByteArray geometry = geometryOf({10, 0, 0});
    GeometryDecoder decoder;
    const OsmTransferNode* first = decoder.decodeGeometry(geometry, &a, &b, false);
    EXPECT_EQ(decoder.decodeGeometry(geometry, &a, &b, false), first);
    const util::ByteArray equalCopy = geometryOf({10, 0, 0});
    EXPECT_EQ(pointsOf(decoder.decodeGeometry(equalCopy, &a, &b, false)), pointsOf(first));
    EXPECT_EQ(decoder.decodeGeometry(LinkGeometry(), &a, &b, false), nullptr);
    const util::ByteArray empty = util::ByteArray::copyOf({});
    EXPECT_EQ(decoder.decodeGeometry(empty, &a, &b, true), nullptr);
}

// Bytes seen through a view may be given back and replaced at the same place:
// once any geometry storage was given back, the same view is decoded anew.
TEST(GeometryDecoderTest, SameViewAfterStorageWasGivenBackIsDecodedAgain) {
    OsmNode a(0, 0);
    OsmNode b(100, 0);
    // The length 3, then (+10, 0, 0).
    std::vector<util::Byte> storage{0, 0, 0, 0, 0x14, 0x00, 0x00};
    const std::int32_t length = 3;
    std::memcpy(storage.data(), &length, sizeof(length));
    const LinkGeometry view = LinkGeometry::ofLengthPrefixed(storage.data() + 4);
    GeometryDecoder decoder;
    EXPECT_EQ(pointsOf(decoder.decodeGeometry(view, &a, &b, false)), (std::vector<Point>{{10, 0, -32768}}));
    storage[4] = 0x28; // +20
    EXPECT_EQ(pointsOf(decoder.decodeGeometry(view, &a, &b, false)), (std::vector<Point>{{10, 0, -32768}}))
        << "the same bytes as far as the decoder can tell";
    LinkGeometry::noteStorageFreed();
    EXPECT_EQ(pointsOf(decoder.decodeGeometry(view, &a, &b, false)), (std::vector<Point>{{20, 0, -32768}}));
}

TEST(GeometryDecoderTest, MoreThanThePoolContinuesWithNewPoints) {
    OsmNode a(0, 0);
    a.selev = 32767;
    OsmNode b(1000, 0);
    std::vector<std::int32_t> triples;
    for (int i = 0; i < 200; ++i) {
        triples.insert(triples.end(), {1, 0, 1});
    }
    GeometryDecoder decoder;
    const util::ByteArray geometry = geometryOf(triples);
    const std::vector<Point> points = pointsOf(decoder.decodeGeometry(geometry, &a, &b, false));
    ASSERT_EQ(points.size(), 200U);
    EXPECT_EQ(points[199], (Point{200, 0, static_cast<std::int16_t>(32767 + 200 - 65536)}))
        << "elevation steps wrap in 16 bits";
}

TEST(GeometryDecoderTest, TruncatedGeometryFailsCleanly) {
    OsmNode a(0, 0);
    OsmNode b(1000, 0);
    GeometryDecoder decoder;
    const util::ByteArray cut = util::ByteArray::copyOf(std::vector<util::Byte>{0x14, 0x80});
    EXPECT_ANY_THROW(decoder.decodeGeometry(cut, &a, &b, false));
}

} // namespace
} // namespace ferrow::mapaccess
