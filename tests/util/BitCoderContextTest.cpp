#include "util/BitCoderContext.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

using Bytes = std::vector<Byte>;

// Writes with a fresh writer into a generous buffer and returns the bytes.
template <typename WriteFn>
Bytes written(WriteFn write) {
    Bytes buffer(64, 0);
    BitCoderContext writer = BitCoderContext::writer(buffer);
    write(writer);
    buffer.resize(static_cast<std::size_t>(writer.flushAndGetLength()));
    return buffer;
}

TEST(BitCoderContextTest, DecodesShortVarBitsCodesFromHandWrittenBytes) {
    struct Case {
        Bytes bytes;
        std::int32_t value;
        std::int64_t bits;
    };
    const Case cases[] = {
        {{0x01}, 0, 1},                 // "1"
        {{0x02}, 1, 3},                 // "010"
        {{0x06}, 2, 3},                 // "011"
        {{0x04}, 3, 5},                 // "00100"
        {{0x1C}, 6, 5},                 // "00111"
        {{0x08}, 7, 7},                 // "0001000"
        {{0x00, 0x04, 0x00}, 1023, 21}, // 10 zeros, 1, ten zero bits
    };
    for (const Case& c : cases) {
        BitCoderContext fast(c.bytes);
        EXPECT_EQ(fast.decodeVarBits(), c.value);
        EXPECT_EQ(fast.getReadingBitPosition(), c.bits);
        BitCoderContext slow(c.bytes);
        EXPECT_EQ(slow.decodeVarBits2(), c.value);
        EXPECT_EQ(slow.getReadingBitPosition(), c.bits);
    }
}

TEST(BitCoderContextTest, DecodesLongCodesThroughTheEscapeAndTheFallback) {
    // 4095: 12 zeros, a one, 12 zero bits (25 bits: the escape step).
    const Bytes escapeBytes{0x00, 0x10, 0x00, 0x00};
    BitCoderContext escape(escapeBytes);
    EXPECT_EQ(escape.decodeVarBits(), 4095);
    EXPECT_EQ(escape.getReadingBitPosition(), 25);
    // 4096: offset 1 right after the one bit.
    const Bytes offsetOneBytes{0x00, 0x30, 0x00, 0x00};
    BitCoderContext offsetOne(offsetOneBytes);
    EXPECT_EQ(offsetOne.decodeVarBits(), 4096);
    // 2^24 - 1: 24 zeros (no one bit in the first 24), handled bit by bit.
    const Bytes fallbackBytes{0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    BitCoderContext fallback(fallbackBytes);
    EXPECT_EQ(fallback.decodeVarBits(), 16777215);
    EXPECT_EQ(fallback.getReadingBitPosition(), 49);
    // Past the end the refill reads zeros: 16 zeros, one, 16 zero bits.
    const Bytes pastEndBytes{0x00, 0x00, 0x01};
    BitCoderContext pastEnd(pastEndBytes);
    EXPECT_EQ(pastEnd.decodeVarBits(), 65535);
}

TEST(BitCoderContextTest, RunOfZerosPastTheDataFailsAsIndexOutOfBounds) {
    const Bytes readerBytes{0x00, 0x00};
    BitCoderContext reader(readerBytes);
    EXPECT_THAT([&] { reader.decodeVarBits(); },
                ThrowsMessage<jcompat::IndexOutOfBoundsException>(StrEq("Index 3 out of bounds for length 2")));
    BitCoderContext empty{std::span<const Byte>()};
    EXPECT_THROW(empty.decodeSingleBit(), jcompat::IndexOutOfBoundsException);
}

TEST(BitCoderContextTest, CodesBeyondThirtyTwoBitsAreRefused) {
    // 32 zeros before the one bit.
    const Bytes tooLongBytes{0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    BitCoderContext tooLong(tooLongBytes);
    EXPECT_THAT([&] { tooLong.decodeVarBits(); },
                ThrowsMessage<jcompat::RuntimeException>(StrEq("corrupt var-bits code: more than 31 leading zeros")));
    // 31 zeros, the one bit, then an offset of 1: 2^31 does not fit.
    const Bytes overflowBytes{0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00};
    BitCoderContext overflow(overflowBytes);
    EXPECT_THAT([&] { overflow.decodeVarBits(); },
                ThrowsMessage<jcompat::RuntimeException>(StrEq("corrupt var-bits code: value exceeds 32 bits")));
    // The largest value still fits: 31 zeros, one, 31 zero bits.
    const Bytes largest =
        written([](BitCoderContext& w) { w.encodeVarBits(std::numeric_limits<std::int32_t>::max()); });
    EXPECT_EQ(largest, (Bytes{0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}));
    BitCoderContext reader(largest);
    EXPECT_EQ(reader.decodeVarBits(), std::numeric_limits<std::int32_t>::max());
}

TEST(BitCoderContextTest, BoundedNumbersTakeOnlyTheBitsThatCanMatter) {
    // max 5: value 2 is bits 0,1 (bit 2 could only give 6 or 7); 0 takes three bits.
    const Bytes twoBytes{0x02};
    BitCoderContext two(twoBytes);
    EXPECT_EQ(two.decodeBounded(5), 2);
    EXPECT_EQ(two.getReadingBitPosition(), 2);
    const Bytes zeroBytes{0x00};
    BitCoderContext zero(zeroBytes);
    EXPECT_EQ(zero.decodeBounded(5), 0);
    EXPECT_EQ(zero.getReadingBitPosition(), 3);
    const Bytes fiveBytes{0x05};
    BitCoderContext five(fiveBytes);
    EXPECT_EQ(five.decodeBounded(5), 5);
    EXPECT_EQ(five.getReadingBitPosition(), 3);

    const Bytes nothingBytes{0xFF};
    BitCoderContext nothing(nothingBytes);
    EXPECT_EQ(nothing.decodeBounded(0), 0);
    EXPECT_EQ(nothing.decodeBounded(-7), 0);
    EXPECT_EQ(nothing.getReadingBitPosition(), 0);

    EXPECT_EQ(written([](BitCoderContext& w) { w.encodeBounded(5, 2); }), Bytes{0x02});
    EXPECT_EQ(written([](BitCoderContext& w) { w.encodeBounded(5, 4); }), Bytes{0x04});
}

TEST(BitCoderContextTest, FixedAndReversedFields) {
    const Bytes readerBytes{0xB5, 0x01, 0x08};
    BitCoderContext reader(readerBytes);
    EXPECT_EQ(reader.decodeFixedBits(4), 0x5);
    EXPECT_EQ(reader.decodeFixedBits(0), 0);
    EXPECT_EQ(reader.decodeFixedBits(4), 0xB);
    // Stream bits 1,0,...,0 then bit 11 = 1: read with the first bit highest.
    EXPECT_EQ(reader.decodeFixedBitsReversed(12), 0x801);
    const Bytes threeBytes{0x03};
    BitCoderContext three(threeBytes);
    EXPECT_EQ(three.decodeFixedBitsReversed(3), 6); // stream 1,1,0
}

TEST(BitCoderContextTest, BadBitCountsAreRefused) {
    const Bytes readerBytes{0x00, 0x00, 0x00, 0x00};
    BitCoderContext reader(readerBytes);
    EXPECT_THAT([&] { reader.decodeFixedBits(25); },
                ThrowsMessage<jcompat::IllegalArgumentException>(StrEq("bit count 25 outside 0..24")));
    EXPECT_THROW(reader.decodeFixedBits(-1), jcompat::IllegalArgumentException);
    EXPECT_THROW(reader.decodeFixedBitsReversed(33), jcompat::IllegalArgumentException);
}

TEST(BitCoderContextTest, WritesHandComputedBytes) {
    // 1, 2, 0: bits 0,1,0, 0,1,1, 1 -> 0x72.
    Bytes buffer(4, 0);
    BitCoderContext writer = BitCoderContext::writer(buffer);
    writer.encodeVarBits(1);
    writer.encodeVarBits(2);
    writer.encodeVarBits(0);
    EXPECT_EQ(writer.flushAndGetLength(), 1);
    EXPECT_EQ(buffer[0], 0x72);

    EXPECT_EQ(written([](BitCoderContext& w) { w.encodeVarBits(4095); }), (Bytes{0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(written([](BitCoderContext& w) { w.encodeVarBits(4096); }), (Bytes{0x00, 0x30, 0x00, 0x00}));
    EXPECT_EQ(written([](BitCoderContext& w) { w.encodeVarBits(-5); }), Bytes{0x01});
    EXPECT_EQ(written([](BitCoderContext& w) { w.encodeVarBits2(6); }), Bytes{0x1C});
    EXPECT_EQ(written([](BitCoderContext&) {}), Bytes{});
}

TEST(BitCoderContextTest, WritingPastTheBufferOrIntoAReaderFails) {
    Bytes buffer(1, 0);
    BitCoderContext writer = BitCoderContext::writer(buffer);
    for (int i = 0; i < 9; ++i) {
        writer.encodeSingleBit(true);
    }
    EXPECT_THAT([&] { writer.flushAndGetLength(); },
                ThrowsMessage<jcompat::IndexOutOfBoundsException>(StrEq("Index 1 out of bounds for length 1")));
    EXPECT_EQ(buffer[0], 0xFF);

    const Bytes data{0x00};
    BitCoderContext reader(data);
    reader.encodeVarBits(3);
    EXPECT_THROW(reader.flushAndGetLength(), jcompat::IllegalStateException);
}

TEST(BitCoderContextTest, ResetStartsOverOnTheSameArray) {
    Bytes buffer(8, 0);
    BitCoderContext coder = BitCoderContext::writer(buffer);
    coder.encodeVarBits(9);
    coder.flushAndGetLength();
    coder.reset();
    coder.encodeVarBits(3);
    EXPECT_EQ(coder.flushAndGetLength(), 1);
    coder.reset();
    EXPECT_EQ(coder.decodeVarBits(), 3);
}

// Random mixes of every code, written and read back in the same order.
TEST(BitCoderContextTest, RandomRoundTrips) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 200; ++round) {
        struct Item {
            int kind;
            std::int32_t max;
            std::int32_t value;
        };
        std::vector<Item> items;
        const int count = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < count; ++i) {
            Item item{static_cast<int>(random() % 5), 0, 0};
            const int width = static_cast<int>(random() % 31);
            const std::int32_t limit = static_cast<std::int32_t>((std::int64_t{1} << width) - 1);
            switch (item.kind) {
            case 0: // var-bits, mostly small
            case 1:
                item.value = static_cast<std::int32_t>(random() % (static_cast<std::uint32_t>(limit) + 1));
                break;
            case 2: // bounded
                item.max = limit;
                item.value = static_cast<std::int32_t>(random() % (static_cast<std::uint32_t>(limit) + 1));
                break;
            case 3: // fixed width: a bounded number with max 2^n - 1 is exactly n bits
                item.max = static_cast<std::int32_t>((1U << (width % 25)) - 1);
                item.value = static_cast<std::int32_t>(random() & static_cast<std::uint32_t>(item.max));
                break;
            default: // single bit
                item.value = static_cast<std::int32_t>(random() & 1U);
                break;
            }
            items.push_back(item);
        }
        Bytes buffer(count * 8 + 8, 0);
        BitCoderContext writer = BitCoderContext::writer(buffer);
        for (const Item& item : items) {
            if (item.kind <= 1) {
                writer.encodeVarBits(item.value);
            } else if (item.kind <= 3) {
                writer.encodeBounded(item.max, item.value);
            } else {
                writer.encodeSingleBit(item.value != 0);
            }
        }
        buffer.resize(static_cast<std::size_t>(writer.flushAndGetLength()));
        BitCoderContext reader(buffer);
        for (const Item& item : items) {
            switch (item.kind) {
            case 0:
                ASSERT_EQ(reader.decodeVarBits(), item.value);
                break;
            case 1:
                ASSERT_EQ(reader.decodeVarBits2(), item.value);
                break;
            case 2:
                ASSERT_EQ(reader.decodeBounded(item.max), item.value);
                break;
            case 3: {
                const int width = std::bit_width(static_cast<std::uint32_t>(item.max));
                ASSERT_EQ(reader.decodeFixedBits(width), item.value);
                break;
            }
            default:
                ASSERT_EQ(reader.decodeSingleBit(), item.value != 0);
                break;
            }
        }
        EXPECT_EQ((reader.getReadingBitPosition() + 7) / 8, static_cast<std::int64_t>(buffer.size()));
    }
}

// The table decoder must agree with the bit-by-bit one on any stream, damaged
// ones included: same values, same position, and failing at the same code.
TEST(BitCoderContextTest, TableDecoderAgreesWithBitByBitOnRandomStreams) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(1 + random() % 24);
        const unsigned zeroBias = random() % 4; // many zero bytes give long codes
        for (Byte& b : bytes) {
            b = static_cast<Byte>(random() % 4 < zeroBias ? 0 : random());
        }
        // Zero padding, so that a code whose one bit lies in the data has its
        // offset bits in the array for the bit-by-bit decoder too.
        bytes.resize(bytes.size() + 8, 0);
        BitCoderContext fast(bytes);
        BitCoderContext slow(bytes);
        for (int i = 0; i < 40; ++i) {
            bool fastFailed = false;
            bool slowFailed = false;
            std::int32_t fastValue = 0;
            std::int32_t slowValue = 0;
            try {
                fastValue = fast.decodeVarBits();
            } catch (const jcompat::RuntimeException&) {
                fastFailed = true;
            }
            try {
                slowValue = slow.decodeVarBits2();
            } catch (const jcompat::RuntimeException&) {
                slowFailed = true;
            }
            ASSERT_EQ(fastFailed, slowFailed);
            if (fastFailed) {
                break;
            }
            ASSERT_EQ(fastValue, slowValue);
            ASSERT_EQ(fast.getReadingBitPosition(), slow.getReadingBitPosition());
        }
    }
}

TEST(BitCoderContextTest, ReversedReadsMatchAnOracle) {
    std::mt19937 random(99);
    for (int round = 0; round < 500; ++round) {
        Bytes bytes(6);
        for (Byte& b : bytes) {
            b = static_cast<Byte>(random());
        }
        const int n = static_cast<int>(random() % 33);
        std::uint32_t expected = 0;
        for (int i = 0; i < n; ++i) {
            const std::uint32_t bit = (bytes[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1U;
            expected = (expected << 1) | bit;
        }
        BitCoderContext reader(bytes);
        ASSERT_EQ(static_cast<std::uint32_t>(reader.decodeFixedBitsReversed(n)), expected) << n;
        ASSERT_EQ(reader.getReadingBitPosition(), n);
    }
}

} // namespace
} // namespace ferrow::util
