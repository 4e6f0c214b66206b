#include "jcompat/JString.h"

#include <cmath>
#include <limits>

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
