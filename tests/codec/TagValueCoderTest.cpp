#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/StatCoderContext.h"
#include "codec/TagValueCoder.h"
#include "jcompat/Exceptions.h"
#include "testsupport/TestTagValidator.h"

namespace ferrow::codec {
namespace {

std::vector<util::Byte> packBits(const std::string& bits) {
    std::vector<util::Byte> bytes((bits.size() + 7) / 8 + 8);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            bytes[i / 8] = static_cast<util::Byte>(bytes[i / 8] | (1U << (i % 8)));
        }
    }
    return bytes;
}

std::vector<util::Byte> bytesOf(const TagValueWrapper* leaf) {
    return std::vector<util::Byte>(leaf->data.span().begin(), leaf->data.span().end());
}

class TagValueCoderTest : public ::testing::Test {
protected:
    DataBuffers buffers;
    testsupport::TestTagValidator validator;
};

TEST_F(TagValueCoderTest, WayLeavesKeepOnlyUsedTagsWithRecomputedSteps) {
    validator.setUsed(3, false);
    // branch; leaf (1,0) (3,4) (5,2); leaf (3,4) only
    const auto bytes = packBits(
        "1"
        "0"
        "010"
        "1"
        "011"
        "00101"
        "011"
        "011"
        "1"
        "0"
        "00100"
        "00101"
        "1"
        // uses: 0, 1, 0
        "0"
        "1"
        "0");
    StatCoderContext coder(bytes);
    TagValueCoder tree(coder, buffers, &validator);
    const TagValueWrapper* first = tree.decodeTagValueSet();
    ASSERT_NE(first, nullptr);
    // (1,0) (4,2) end: 010 1 00110 011 1
    EXPECT_EQ(bytesOf(first), (std::vector<util::Byte>{0xCA, 0x1C}));
    EXPECT_EQ(first->accessType, 2);
    EXPECT_EQ(tree.decodeTagValueSet(), nullptr) << "a leaf with no used tag is absent";
    EXPECT_EQ(tree.decodeTagValueSet(), first);
    EXPECT_EQ(tree.leaves().size(), 1U);
}

TEST_F(TagValueCoderTest, AccessTypeDecidesAndEqualSetsAreShared) {
    validator.classify = [](const util::ByteArray& tags) { return tags[0] == 0x1A ? 1 : 0; };
    // branch(branch(leaf W, leaf W), leaf X)
    const auto bytes = packBits(
        "1"
        "1"
        "0"
        "010"
        "1"
        "1"
        "0"
        "010"
        "1"
        "1"
        "0"
        "011"
        "1"
        "1");
    StatCoderContext coder(bytes);
    TagValueCoder tree(coder, buffers, &validator);
    ASSERT_EQ(tree.leaves().size(), 2U);
    EXPECT_TRUE(tree.leaves()[0].data.isSameAs(tree.leaves()[1].data)) << "shared through the validator";
    EXPECT_EQ(tree.leaves()[0].accessType, 1);
}

TEST_F(TagValueCoderTest, NodeLeavesAreKeptAsCodedAndEmptyOnesAreAbsent) {
    const auto bytes = packBits(
        "1"
        "0"
        "1"
        "0"
        "011"
        "00100"
        "1"
        "1"
        "0");
    StatCoderContext coder(bytes);
    TagValueCoder tree(coder, buffers, nullptr);
    EXPECT_EQ(bytesOf(tree.decodeTagValueSet()), (std::vector<util::Byte>{0x26, 0x01}));
    EXPECT_EQ(tree.decodeTagValueSet(), nullptr);
}

TEST_F(TagValueCoderTest, SingleLeafTreeReadsNoBitsPerUse) {
    const auto bytes = packBits(
        "0"
        "010"
        "1"
        "1");
    StatCoderContext coder(bytes);
    TagValueCoder tree(coder, buffers, &validator);
    const std::int64_t position = coder.getReadingBitPosition();
    EXPECT_NE(tree.decodeTagValueSet(), nullptr);
    EXPECT_EQ(coder.getReadingBitPosition(), position);
}

TEST_F(TagValueCoderTest, TooDeepTreeIsRefused) {
    const auto bytes = packBits(std::string(200, '1'));
    StatCoderContext coder(bytes);
    try {
        TagValueCoder tree(coder, buffers, nullptr);
        FAIL();
    } catch (const jcompat::IOException& e) {
        EXPECT_STREQ(e.what(), "corrupt tile: tag tree deeper than 64");
    }
}

TEST_F(TagValueCoderTest, LeafBeyondTheTagBufferFails) {
    std::string bits = "0";
    for (int i = 0; i < 400; ++i) {
        bits +=
            "010"
            "00000100000"; // step 1, value 31: 14 bits re-written per pair
    }
    bits += "1";
    const auto bytes = packBits(bits);
    StatCoderContext coder(bytes);
    EXPECT_THROW(TagValueCoder(coder, buffers, nullptr), jcompat::IndexOutOfBoundsException);
}

TEST_F(TagValueCoderTest, StreamEndingInsideALeafFails) {
    const auto bytes = std::vector<util::Byte>{0x00};
    StatCoderContext coder(bytes);
    EXPECT_THROW(TagValueCoder(coder, buffers, &validator), jcompat::Throwable);
}

} // namespace
} // namespace ferrow::codec
