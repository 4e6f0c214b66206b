#include "util/Crc32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

std::vector<Byte> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Crc32Test, RegisterValuesOfKnownInputs) {
    // The register is the complement of the usual CRC-32 (0xCBF43926 for "123456789").
    EXPECT_EQ(static_cast<std::uint32_t>(Crc32::crc(bytesOf("123456789"))), 0x340BC6D9U);
    EXPECT_EQ(static_cast<std::uint32_t>(Crc32::crc(bytesOf("abc"))), 0xCADBBE3DU);
    EXPECT_EQ(Crc32::crc(std::vector<Byte>{}), -1);
    EXPECT_EQ(Crc32::TABLE[1], 0x77073096U);
    EXPECT_EQ(Crc32::TABLE[255], 0x2D02EF8DU);
}

TEST(Crc32Test, RangesInsideTheBytes) {
    const std::vector<Byte> bytes = bytesOf("xxabcyy");
    EXPECT_EQ(static_cast<std::uint32_t>(Crc32::crc(bytes, 2, 3)), 0xCADBBE3DU);
    EXPECT_EQ(Crc32::crc(bytes, 7, 0), -1);
    EXPECT_THAT([&] { Crc32::crc(bytes, 5, 3); },
                ThrowsMessage<jcompat::IndexOutOfBoundsException>(StrEq("Index 8 out of bounds for length 7")));
    EXPECT_THROW(Crc32::crc(bytes, -1, 2), jcompat::IndexOutOfBoundsException);
    EXPECT_THROW(Crc32::crc(bytes, 0, -1), jcompat::IndexOutOfBoundsException);
}

} // namespace
} // namespace ferrow::util
