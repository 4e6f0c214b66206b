#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/StatCoderContext.h"
#include "jcompat/Exceptions.h"
#include "testsupport/StatEncoder.h"

namespace ferrow::codec {
namespace {

using testsupport::StatEncoder;

std::vector<util::Byte> packBits(const std::string& bits) {
    std::vector<util::Byte> bytes((bits.size() + 7) / 8);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            bytes[i / 8] = static_cast<util::Byte>(bytes[i / 8] | (1U << (i % 8)));
        }
    }
    return bytes;
}

TEST(StatCoderContextTest, NoisyBitsTable) {
    const auto& table = StatCoderContext::NOISY_BITS;
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[2], 0);
    EXPECT_EQ(table[3], 1);
    EXPECT_EQ(table[5], 1);
    EXPECT_EQ(table[6], 2);
    EXPECT_EQ(table[11], 2);
    EXPECT_EQ(table[12], 3);
    EXPECT_EQ(table[384], 8);
    EXPECT_EQ(table[767], 8);
    EXPECT_EQ(table[768], 9);
    EXPECT_EQ(table[1023], 9);
    // -5000 halves three times to 625, then 8 more: 11.
    EXPECT_EQ(StatCoderContext::noisyBitsAround(-5000), 11);
    EXPECT_EQ(StatCoderContext::noisyBitsAround(1), 0);
}

TEST(StatCoderContextTest, NoisyDiffHandCases) {
    {
        const auto bytes = packBits("1");
        StatCoderContext coder(bytes);
        EXPECT_EQ(coder.decodeNoisyDiff(0), 0);
        EXPECT_EQ(coder.getReadingBitPosition(), 1) << "no sign bit after a zero high part";
    }
    {
        // raw bits 3, high part 0: 3 - 2 = 1
        const auto bytes = packBits(
            "11"
            "1");
        StatCoderContext coder(bytes);
        EXPECT_EQ(coder.decodeNoisyDiff(2), 1);
    }
    {
        // raw 1 (1 - 2 = -1), high 1 (code 010) shifted by 2, sign -: -1 - 4 = -5
        const auto bytes = packBits(
            "10"
            "010"
            "1");
        StatCoderContext coder(bytes);
        EXPECT_EQ(coder.decodeNoisyDiff(2), -5);
    }
    {
        // noisy value: 5 raw bits 00110 (= 12), high 2 (code 011): 12 | 2 << 5 = 76
        const auto bytes = packBits(
            "00110"
            "011");
        StatCoderContext coder(bytes);
        EXPECT_EQ(coder.decodeNoisyValue(5), 76);
    }
}

TEST(StatCoderContextTest, SortedArrayHandCases) {
    {
        // count 3, next bit 0: zeros = bounded(3) = 2 (bits 0 1): 0, 0, 1
        const auto bytes = packBits("01");
        StatCoderContext coder(bytes);
        std::vector<std::int32_t> values(3, -1);
        coder.decodeSortedArray(values, 0, 3, 0, 0);
        EXPECT_EQ(values, (std::vector<std::int32_t>{0, 0, 1}));
    }
    {
        // count 0 reads nothing
        const auto bytes = packBits("1");
        StatCoderContext coder(bytes);
        std::vector<std::int32_t> values;
        coder.decodeSortedArray(values, 0, 0, 29, 0);
        EXPECT_EQ(coder.getReadingBitPosition(), 0);
    }
}

TEST(StatCoderContextTest, WidthBeyondTheBitBufferIsRefused) {
    const auto bytes = packBits("1111");
    StatCoderContext coder(bytes);
    try {
        coder.decodeNoisyDiff(25);
        FAIL();
    } catch (const jcompat::IOException& e) {
        EXPECT_STREQ(e.what(), "corrupt tile: noisy bit count 25 out of range");
    }
    EXPECT_THROW(coder.decodeNoisyDiff(-1), jcompat::IOException);
    // A prediction near the 32-bit limit needs 30 raw bits.
    EXPECT_THROW(coder.decodeAroundPrediction(2000000000), jcompat::IOException);
}

TEST(StatCoderContextTest, RandomRoundTripsThroughTheEncoder) {
    std::mt19937 random(4711);
    std::uniform_int_distribution<std::int32_t> width(0, 16);
    std::uniform_int_distribution<std::int32_t> magnitude(0, 20);
    auto randomValue = [&] {
        const std::int32_t bits = magnitude(random);
        const std::int32_t value = static_cast<std::int32_t>(random() & ((1U << bits) - 1));
        return (random() & 1U) != 0 ? -value : value;
    };
    struct Item {
        int kind;
        std::int32_t a;
        std::int32_t b;
    };
    std::vector<Item> items;
    StatEncoder out(1 << 16);
    for (int i = 0; i < 2000; ++i) {
        Item item{static_cast<int>(random() % 3), randomValue(), width(random)};
        switch (item.kind) {
        case 0:
            item.a = std::abs(item.a);
            out.encodeNoisyNumber(item.a, item.b % 11);
            break;
        case 1:
            out.encodeNoisyDiff(item.a, item.b);
            break;
        default:
            item.b = randomValue();
            out.encodePredictedValue(item.a, item.b);
            break;
        }
        items.push_back(item);
    }
    std::vector<std::int32_t> sorted(300);
    for (std::int32_t& v : sorted) {
        v = static_cast<std::int32_t>(random() & 0x3FFFFFFF);
    }
    sorted[7] = sorted[8]; // equal values too
    std::sort(sorted.begin(), sorted.end());
    out.encodeSortedArray(sorted, 29);
    const std::vector<util::Byte> bytes = out.finish();

    StatCoderContext in(bytes);
    for (const Item& item : items) {
        switch (item.kind) {
        case 0:
            ASSERT_EQ(in.decodeNoisyValue(item.b % 11), item.a);
            break;
        case 1:
            ASSERT_EQ(in.decodeNoisyDiff(item.b), item.a);
            break;
        default:
            ASSERT_EQ(in.decodeAroundPrediction(item.b), item.a);
            break;
        }
    }
    std::vector<std::int32_t> decoded(sorted.size());
    in.decodeSortedArray(decoded, 0, static_cast<std::int32_t>(decoded.size()), 29, 0);
    EXPECT_EQ(decoded, sorted);
    EXPECT_EQ((in.getReadingBitPosition() + 7) / 8, static_cast<std::int64_t>(bytes.size()));
}

} // namespace
} // namespace ferrow::codec
