#include "jcompat/JString.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"

using ferrow::jcompat::IllegalArgumentException;
using ferrow::jcompat::JString;
using ferrow::jcompat::NumberFormatException;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

std::string numberFailure(std::string_view text, bool asInt) {
    try {
        if (asInt) {
            JString::parseInt(text);
        } else {
            JString::parseDouble(text);
        }
    } catch (const NumberFormatException& e) {
        return e.getMessage();
    }
    return "<no failure>";
}

} // namespace

TEST(JStringSplit, KeepsInnerEmptyPiecesAndDropsTrailingOnes) {
    EXPECT_THAT(JString::split("", ","), ElementsAre(""));
    EXPECT_THAT(JString::split(",,", ","), IsEmpty());
    EXPECT_THAT(JString::split(",a,,b,,", ","), ElementsAre("", "a", "", "b"));
    EXPECT_THAT(JString::split("abc", ","), ElementsAre("abc"));
    EXPECT_THAT(JString::split("8.1,49.2", ","), ElementsAre("8.1", "49.2"));
}

TEST(JStringSplit, EscapedBarAndAlternation) {
    EXPECT_THAT(JString::split("1|2;3", ";|\\|"), ElementsAre("1", "2", "3"));
    EXPECT_THAT(JString::split("a|b||", "\\|"), ElementsAre("a", "b"));
    EXPECT_THAT(JString::split("|x", "\\|"), ElementsAre("", "x"));
    EXPECT_THAT(JString::split("a;b", "\\|"), ElementsAre("a;b"));
    EXPECT_THAT(JString::split("ä,ö", ","), ElementsAre("ä", "ö"));
}

TEST(JStringSplit, RefusesUnsupportedPatterns) {
    EXPECT_THROW(JString::split("a", "a*"), IllegalArgumentException);
    EXPECT_THROW(JString::split("a", "a|"), IllegalArgumentException);
}

TEST(JStringTrim, RemovesControlCharactersButKeepsNoBreakSpace) {
    EXPECT_EQ(JString::trim("\t\n x \r"), "x");
    EXPECT_EQ(JString::trim("\u00A0x\u00A0"), "\u00A0x\u00A0");
    EXPECT_EQ(JString::trim("   "), "");
    EXPECT_EQ(JString::trim(std::string_view("\0a\x01", 3)), "a");
}

TEST(JStringParseDouble, AcceptedForms) {
    EXPECT_EQ(JString::parseDouble("2.5d"), 2.5);
    EXPECT_EQ(JString::parseDouble("1e3"), 1000.0);
    EXPECT_EQ(JString::parseDouble("  -7.25F "), -7.25);
    EXPECT_EQ(JString::parseDouble("+.5"), 0.5);
    EXPECT_EQ(JString::parseDouble("5."), 5.0);
    EXPECT_EQ(JString::parseDouble("1E-2"), 0.01);
    EXPECT_EQ(JString::parseDouble("0x1.8p1"), 3.0);
    EXPECT_EQ(JString::parseDouble("-Infinity"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(JString::parseDouble("NaN")));
    EXPECT_TRUE(std::isnan(JString::parseDouble("-NaN")));
    EXPECT_EQ(JString::parseDouble("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(JString::parseDouble("4.9E-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(JString::parseDouble("0.1"), 0.1);
    EXPECT_TRUE(std::signbit(JString::parseDouble("-0")));
}

// The decimal digits of 5^n: 2^-n written out is these digits x 10^-n.
std::string powerOfFive(int n) {
    std::string digits = "1"; // least significant first
    for (int i = 0; i < n; ++i) {
        int carry = 0;
        for (char& digit : digits) {
            const int product = (digit - '0') * 5 + carry;
            digit = static_cast<char>('0' + product % 10);
            carry = product / 10;
        }
        if (carry > 0) digits += static_cast<char>('0' + carry);
    }
    return {digits.rbegin(), digits.rend()};
}

std::uint64_t bitsOf(const std::string& text) {
    const double value = JString::parseDouble(text);
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Exactly rounded: ties to even, decided by the last of many digits, into the
// subnormals and up to the largest value.
TEST(JStringParseDouble, ExactlyRoundedHardCases) {
    // 2^53 + 1 and 2^53 + 3 lie halfway between neighbours: the even one wins,
    // unless a digit far behind the point tips the balance.
    EXPECT_EQ(bitsOf("9007199254740993"), 0x4340000000000000u);
    EXPECT_EQ(bitsOf("9007199254740995"), 0x4340000000000002u);
    EXPECT_EQ(bitsOf("9007199254740993.0000000000000000000001"), 0x4340000000000001u);
    // 1 + 2^-53 written out in full, and a hair above it.
    EXPECT_EQ(bitsOf("1.00000000000000011102230246251565404236316680908203125"), 0x3ff0000000000000u);
    EXPECT_EQ(bitsOf("1.00000000000000011102230246251565404236316680908203125" + std::string(300, '0') + "1"),
              0x3ff0000000000001u);
    // Either side of the smallest normal value.
    EXPECT_EQ(bitsOf("2.2250738585072011e-308"), 0x000fffffffffffffu);
    EXPECT_EQ(bitsOf("2.2250738585072012e-308"), 0x0010000000000000u);
    // Subnormals down to half the smallest (2^-1075, 752 digits): a tie, so zero.
    EXPECT_EQ(bitsOf("4.9406564584124654e-324"), 1u);
    EXPECT_EQ(bitsOf("2.4703282292062327e-324"), 0u);
    EXPECT_EQ(bitsOf("2.4703282292062328e-324"), 1u);
    const std::string halfOfSmallest = powerOfFive(1075);
    ASSERT_EQ(halfOfSmallest.size(), 752u);
    EXPECT_EQ(bitsOf(halfOfSmallest + "e-1075"), 0u);
    EXPECT_EQ(bitsOf(halfOfSmallest + "1e-1076"), 1u);
    EXPECT_EQ(bitsOf("1e-400"), 0u);
    EXPECT_EQ(bitsOf("-1e-400"), 0x8000000000000000u);
    // The largest value, and past the halfway point to 2^1024 infinity.
    EXPECT_EQ(bitsOf("1.7976931348623157e308"), 0x7fefffffffffffffu);
    EXPECT_EQ(bitsOf("1.7976931348623158e308"), 0x7fefffffffffffffu);
    EXPECT_EQ(bitsOf("1.7976931348623159e308"), 0x7ff0000000000000u);
    EXPECT_EQ(bitsOf("-1e400"), 0xfff0000000000000u);
    // Long digit strings.
    EXPECT_EQ(bitsOf("1" + std::string(700, '0') + "1e-701"), 0x3ff0000000000000u);
    EXPECT_EQ(bitsOf("0." + std::string(800, '9')), 0x3ff0000000000000u);
    EXPECT_EQ(bitsOf(std::string(400, '0') + "0.1"), 0x3fb999999999999au);
    // Hex digits beyond the 53 bits round the same way.
    EXPECT_EQ(bitsOf("0x1.fffffffffffff8p0"), 0x4000000000000000u);
    EXPECT_EQ(bitsOf("0x1.00000000000008p0"), 0x3ff0000000000000u);
    EXPECT_EQ(bitsOf("0x1.00000000000018p0"), 0x3ff0000000000002u);
    EXPECT_EQ(bitsOf("0x1p-1075"), 0u);
    EXPECT_EQ(bitsOf("0x1.0000000000001p-1075"), 1u);
}

TEST(JStringParseDouble, FailuresQuoteTheUntrimmedInput) {
    EXPECT_EQ(numberFailure("   ", false), "For input string: \"   \"");
    EXPECT_EQ(numberFailure("2.5dd", false), "For input string: \"2.5dd\"");
    EXPECT_EQ(numberFailure(" x ", false), "For input string: \" x \"");
    for (const char* bad :
         {"", ".", "e5", "1e", "1e+", "--1", "0x1.8", "nan", "infinity", "1,5", "1 2", "0x", "1.2.3"}) {
        EXPECT_EQ(numberFailure(bad, false), std::string("For input string: \"") + bad + "\"") << bad;
    }
}

TEST(JStringParseInt, DigitsWithOptionalSignOnly) {
    EXPECT_EQ(JString::parseInt("+7"), 7);
    EXPECT_EQ(JString::parseInt("-0"), 0);
    EXPECT_EQ(JString::parseInt("2147483647"), 2147483647);
    EXPECT_EQ(JString::parseInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(JString::parseInt("007"), 7);
    for (const char* bad :
         {"2147483648", "-2147483649", " 7", "7 ", "", "+", "-", "1.5", "1e3", "99999999999999999999"}) {
        EXPECT_EQ(numberFailure(bad, true), std::string("For input string: \"") + bad + "\"") << bad;
    }
}

TEST(JStringHashCode, ThirtyOneBasedOverUtf16Units) {
    EXPECT_EQ(JString::hashCode(""), 0);
    EXPECT_EQ(JString::hashCode("a"), 97);
    EXPECT_EQ(JString::hashCode("ab"), 97 * 31 + 98);
    // Wraps at 32 bits: "polygenelubricants" hashes to the smallest int.
    EXPECT_EQ(JString::hashCode("polygenelubricants"), std::numeric_limits<std::int32_t>::min());
    // U+00E4 is one unit (228); U+1F600 is the surrogate pair D83D DE00.
    EXPECT_EQ(JString::hashCode("\u00E4"), 228);
    EXPECT_EQ(JString::hashCode("\U0001F600"), 0xD83D * 31 + 0xDE00);
}

TEST(JStringToLowerCase, MapsCommonScriptsWithoutLocale) {
    EXPECT_EQ(JString::toLowerCase("GeoJSON-XY_9"), "geojson-xy_9");
    EXPECT_EQ(JString::toLowerCase("ÄÖÜÀÉØÞ"), "äöüàéøþ");
    EXPECT_EQ(JString::toLowerCase("ŁŚŻĄĘŸ"), "łśżąęÿ");
    EXPECT_EQ(JString::toLowerCase("ΑΒΓΔΆΏ"), "αβγδάώ");
    EXPECT_EQ(JString::toLowerCase("ΟΔΟΣ ΣΑ"), "οδος σα");
    EXPECT_EQ(JString::toLowerCase("МОСКВА ЁЖ"), "москва ёж");
    EXPECT_EQ(JString::toLowerCase("ẞỲ"), "ßỳ");
    EXPECT_EQ(JString::toLowerCase("İ"), "i\u0307");
    EXPECT_EQ(JString::toLowerCase("ß日本"), "ß日本");
}

TEST(JStringEqualsIgnoreCase, ComparesLowerCasedCharacters) {
    EXPECT_TRUE(JString::equalsIgnoreCase("OsmAnd", "osmand"));
    EXPECT_TRUE(JString::equalsIgnoreCase("LOCUS", "locus"));
    EXPECT_TRUE(JString::equalsIgnoreCase("Ärger", "äRGER"));
    EXPECT_FALSE(JString::equalsIgnoreCase("osmand", "osmand2"));
    EXPECT_FALSE(JString::equalsIgnoreCase("locus", "lucus"));
}

TEST(Throwable, MessageOrTypeName) {
    const NumberFormatException withoutMessage;
    EXPECT_STREQ(withoutMessage.what(), "NumberFormatException");
    EXPECT_FALSE(withoutMessage.hasMessage());
    EXPECT_EQ(withoutMessage.toString(), "NumberFormatException");
    const ferrow::jcompat::IllegalStateException withMessage("closed");
    EXPECT_STREQ(withMessage.what(), "closed");
    EXPECT_EQ(withMessage.toString(), "IllegalStateException: closed");
    const ferrow::jcompat::RuntimeException emptyMessage("");
    EXPECT_TRUE(emptyMessage.hasMessage());
    EXPECT_STREQ(emptyMessage.what(), "");
}
