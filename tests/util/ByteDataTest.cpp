#include "util/ByteDataReader.h"
#include "util/ByteDataWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

using Bytes = std::vector<Byte>;

// Keeps test bytes alive for the whole test program.
const Bytes& kept(Bytes bytes) {
    static std::deque<Bytes> store;
    return store.emplace_back(std::move(bytes));
}

// A reader over bytes that outlive it (readers do not own their bytes).
ByteDataReader readerOver(const Bytes& bytes, std::int32_t start = 0) { return ByteDataReader(bytes, start); }

template <typename WriteFn>
Bytes written(WriteFn write) {
    Bytes buffer(300, 0);
    ByteDataWriter writer(buffer);
    write(writer);
    buffer.resize(static_cast<std::size_t>(writer.getPosition()));
    return buffer;
}

TEST(ByteDataTest, BigEndianFixedWidthValues) {
    const Bytes bytes{0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x85,
                      0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    ByteDataReader reader(bytes);
    EXPECT_EQ(reader.readInt(), 0x01020304);
    EXPECT_EQ(reader.readInt(), -2);
    EXPECT_EQ(reader.readShort(), -123);
    EXPECT_FALSE(reader.readBoolean());
    EXPECT_TRUE(reader.readBoolean());
    EXPECT_TRUE(reader.hasMoreData());
    EXPECT_EQ(reader.readLong(), INT64_MIN + 1);
    EXPECT_FALSE(reader.hasMoreData());

    EXPECT_EQ(written([](ByteDataWriter& w) {
                  w.writeInt(0x01020304);
                  w.writeInt(-2);
                  w.writeShort(-123);
                  w.writeBoolean(false);
                  w.writeBoolean(true);
              }),
              (Bytes{0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x85, 0x00, 0x01}));
}

TEST(ByteDataTest, VariableLengthNumbers) {
    EXPECT_EQ(readerOver(kept(Bytes{0x7F})).readVarLengthUnsigned(), 127);
    EXPECT_EQ(readerOver(kept(Bytes{0x80, 0x01})).readVarLengthUnsigned(), 128);
    EXPECT_EQ(readerOver(kept(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F})).readVarLengthUnsigned(), -1);
    // The fifth byte ends the number whatever its top bit says.
    const Bytes fiveBytes{0x80, 0x80, 0x80, 0x80, 0x81, 0x05};
    ByteDataReader five(fiveBytes);
    EXPECT_EQ(five.readVarLengthUnsigned(), 0x10000000);
    EXPECT_EQ(five.getPosition(), 5);

    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeVarLengthUnsigned(-1); }), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeVarLengthUnsigned(0x3FFF); }), (Bytes{0xFF, 0x7F}));
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeVarLengthUnsigned(0x4000); }), (Bytes{0x80, 0x80, 0x01}));

    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeSignedVarLength(-3); }), Bytes{0x07});
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeSignedVarLength(3); }), Bytes{0x06});
    EXPECT_EQ(readerOver(kept(Bytes{0x01})).readSignedVarLength(), 0); // minus zero
    EXPECT_EQ(readerOver(kept(Bytes{0x07})).readSignedVarLength(), -3);
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeSignedVarLength(INT32_MIN); }), Bytes{0x01});
}

TEST(ByteDataTest, VarBytesAndModeAndTags) {
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeVarBytes({}); }), Bytes{0x00});
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeVarBytes(Bytes{0x0A, 0x0B}); }), (Bytes{0x02, 0x0A, 0x0B}));
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeModeAndTags(true, Bytes{5, 6}); }), (Bytes{0x05, 5, 6}));
    EXPECT_EQ(written([](ByteDataWriter& w) { w.writeModeAndTags(false, {}); }), Bytes{0x00});
}

TEST(ByteDataTest, PatchSizeMovesTheRecordOnlyWhenTheSizeNeedsTwoBytes) {
    const Bytes short127 = written([](ByteDataWriter& w) {
        const std::int32_t sizePosition = w.reserveSizeByte();
        for (int i = 0; i < 127; ++i) {
            w.writeBoolean(true);
        }
        w.patchSize(sizePosition);
    });
    ASSERT_EQ(short127.size(), 128U);
    EXPECT_EQ(short127[0], 0x7F);
    EXPECT_EQ(short127[1], 0x01);
    EXPECT_EQ(short127[127], 0x01);

    const Bytes long128 = written([](ByteDataWriter& w) {
        w.writeBoolean(false);
        const std::int32_t sizePosition = w.reserveSizeByte();
        for (int i = 0; i < 128; ++i) {
            w.writeBoolean(i == 0 || i == 127);
        }
        w.patchSize(sizePosition);
        EXPECT_EQ(w.getPosition(), 1 + 2 + 128);
    });
    ASSERT_EQ(long128.size(), 131U);
    EXPECT_EQ(long128[0], 0x00);
    EXPECT_EQ(long128[1], 0x80);
    EXPECT_EQ(long128[2], 0x01);
    EXPECT_EQ(long128[3], 0x01); // the first record byte, moved right by one
    EXPECT_EQ(long128[4], 0x00);
    EXPECT_EQ(long128[130], 0x01);
}

TEST(ByteDataTest, ReadsPastTheArrayFail) {
    const Bytes three{1, 2, 3};
    ByteDataReader reader(three);
    EXPECT_THAT([&] { reader.readInt(); },
                ThrowsMessage<jcompat::IndexOutOfBoundsException>(StrEq("Index 3 out of bounds for length 3")));
    EXPECT_THROW(readerOver(kept(Bytes{0x80, 0x80})).readVarLengthUnsigned(), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(readerOver(kept(Bytes{1}), 2).readBoolean(), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(readerOver(kept(Bytes{1}), -1).readBoolean(), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(ByteDataReader().readShort(), jcompat::IndexOutOfBoundsException);
}

TEST(ByteDataTest, WritesPastTheBufferFail) {
    Bytes buffer(3, 0);
    ByteDataWriter writer(buffer);
    writer.writeShort(0x0102);
    EXPECT_THROW(writer.writeShort(0), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(writer.writeVarLengthUnsigned(200), jcompat::IndexOutOfBoundsException);
    writer.writeVarLengthUnsigned(100);
    EXPECT_EQ(buffer, (Bytes{0x01, 0x02, 100}));

    // A size that no longer fits when it needs a second byte.
    Bytes full(129, 0);
    ByteDataWriter record(full);
    const std::int32_t sizePosition = record.reserveSizeByte();
    for (int i = 0; i < 128; ++i) {
        record.writeBoolean(true);
    }
    EXPECT_THROW(record.patchSize(sizePosition), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(record.patchSize(129), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(record.patchSize(-1), jcompat::IndexOutOfBoundsException);
}

TEST(ByteDataTest, TextFormShowsSignedBytes) {
    EXPECT_EQ(readerOver(kept(Bytes{1, 0xFE})).toString(), "[ 1, -2 ]");
    EXPECT_EQ(readerOver(kept(Bytes{})).toString(), "[ ]");
}

TEST(ByteDataTest, RandomRoundTrips) {
    std::mt19937 random(31337);
    Bytes buffer(8 * 1000);
    std::vector<std::int32_t> values(1000);
    for (int round = 0; round < 20; ++round) {
        ByteDataWriter writer(buffer);
        for (std::int32_t& value : values) {
            value = static_cast<std::int32_t>(random() >> (random() % 32));
            if (random() % 2 != 0) {
                value = -value;
            }
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            switch (i % 3) {
            case 0:
                writer.writeVarLengthUnsigned(values[i]);
                break;
            case 1:
                writer.writeSignedVarLength(values[i]);
                break;
            default:
                writer.writeInt(values[i]);
                break;
            }
        }
        ByteDataReader reader(std::span<const Byte>(buffer).first(static_cast<std::size_t>(writer.getPosition())));
        for (std::size_t i = 0; i < values.size(); ++i) {
            switch (i % 3) {
            case 0:
                ASSERT_EQ(reader.readVarLengthUnsigned(), values[i]);
                break;
            case 1: {
                // Magnitudes from 2^30 on lose their top bit in the signed form.
                const std::int32_t v = values[i];
                if (v > -(1 << 30) && v < (1 << 30)) {
                    ASSERT_EQ(reader.readSignedVarLength(), v);
                } else {
                    reader.readSignedVarLength();
                }
                break;
            }
            default:
                ASSERT_EQ(reader.readInt(), values[i]);
                break;
            }
        }
        EXPECT_FALSE(reader.hasMoreData());
    }
}

} // namespace
} // namespace ferrow::util
