#include "jcompat/NumberText.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "jcompat/JString.h"
#include "jcompat/Platform.h"

using namespace ferrow::jcompat;

TEST(DoubleToString, PlainAndExponentForms) {
    EXPECT_EQ(doubleToString(10000000.0), "1.0E7");
    EXPECT_EQ(doubleToString(9999999.0), "9999999.0");
    EXPECT_EQ(doubleToString(0.001), "0.001");
    EXPECT_EQ(doubleToString(0.0009999), "9.999E-4");
    EXPECT_EQ(doubleToString(-0.5), "-0.5");
    EXPECT_EQ(doubleToString(100.0), "100.0");
    EXPECT_EQ(doubleToString(1.0 / 8000.0), "1.25E-4");
    EXPECT_EQ(doubleToString(120.25), "120.25");
    EXPECT_EQ(doubleToString(123456.789), "123456.789");
    EXPECT_EQ(doubleToString(1.5e300), "1.5E300");
    EXPECT_EQ(doubleToString(-2.5e-10), "-2.5E-10");
    EXPECT_EQ(doubleToString(12345678.9), "1.23456789E7");
}

TEST(DoubleToString, SpecialValues) {
    EXPECT_EQ(doubleToString(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(doubleToString(std::numeric_limits<double>::infinity()), "Infinity");
    EXPECT_EQ(doubleToString(-std::numeric_limits<double>::infinity()), "-Infinity");
    EXPECT_EQ(doubleToString(0.0), "0.0");
    EXPECT_EQ(doubleToString(-0.0), "-0.0");
    EXPECT_EQ(doubleToString(std::numeric_limits<double>::denorm_min()), "4.9E-324");
    EXPECT_EQ(doubleToString(std::numeric_limits<double>::max()), "1.7976931348623157E308");
    EXPECT_EQ(doubleToString(std::numeric_limits<double>::min()), "2.2250738585072014E-308");
}

TEST(DoubleToString, ShortestDigits) {
    EXPECT_EQ(doubleToString(0.1), "0.1");
    EXPECT_EQ(doubleToString(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(doubleToString(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(doubleToString(2e23), "2.0E23");
    EXPECT_EQ(doubleToString(5e-324 * 2), "9.9E-324");
}

TEST(FloatToString, UsesTheFloatsOwnDigits) {
    EXPECT_EQ(floatToString(0.1f), "0.1");
    EXPECT_EQ(floatToString(1.1f), "1.1");
    EXPECT_EQ(floatToString(12.5f), "12.5");
    EXPECT_EQ(floatToString(1.0e7f), "1.0E7");
    EXPECT_EQ(floatToString(16777216.0f), "1.6777216E7");
    EXPECT_EQ(floatToString(3.4028235e38f), "3.4028235E38");
    EXPECT_EQ(floatToString(std::numeric_limits<float>::denorm_min()), "1.4E-45");
    EXPECT_EQ(floatToString(2 * std::numeric_limits<float>::denorm_min()), "2.8E-45");
    EXPECT_EQ(floatToString(3 * std::numeric_limits<float>::denorm_min()), "4.2E-45");
    EXPECT_EQ(floatToString(std::numeric_limits<float>::min()), "1.1754944E-38");
    EXPECT_EQ(floatToString(-0.0f), "-0.0");
    EXPECT_EQ(floatToString(0.00012345f), "1.2345E-4");
}

TEST(DoubleToString, RandomValuesReadBackExactly) {
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 20000; ++i) {
        double value;
        const std::uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value)) continue;
        const std::string text = doubleToString(value);
        EXPECT_EQ(JString::parseDouble(text), value) << text;
        const double magnitude = std::fabs(value);
        const bool plain = magnitude >= 1e-3 && magnitude < 1e7;
        EXPECT_EQ(text.find('E') == std::string::npos, plain || std::isinf(value)) << text;
    }
}

// Read back as a float (not through a double, which could round twice).
TEST(FloatToString, RandomValuesReadBackExactly) {
    std::mt19937 random(20240612);
    for (int i = 0; i < 20000; ++i) {
        float value;
        const std::uint32_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value) || std::isinf(value)) continue;
        const std::string text = floatToString(value);
        EXPECT_EQ(platform::strtofC(text.c_str()), value) << text;
    }
}

TEST(SaturatingConversion, TruncatesAndSaturates) {
    EXPECT_EQ(toInt(2.9), 2);
    EXPECT_EQ(toInt(-2.9), -2);
    EXPECT_EQ(toInt(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(toInt(1e10), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(toInt(-1e10), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(toInt(2147483647.0), 2147483647);
    EXPECT_EQ(toInt(2147483646.9), 2147483646);
    EXPECT_EQ(toInt(-2147483648.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(toInt(std::numeric_limits<double>::infinity()), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(toInt(2.9f), 2);
    EXPECT_EQ(toInt(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(toInt(3e9f), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(toLong(1e19), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(toLong(-1e19), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(toLong(-3.99), -3);
    EXPECT_EQ(toLong(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(toLong(9.3e18f), std::numeric_limits<std::int64_t>::max());
}

TEST(WrapAround, ThirtyTwoAndSixtyFourBits) {
    EXPECT_EQ(wrapAdd(std::int32_t{2147483647}, std::int32_t{1}), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(wrapMul(std::int32_t{65536}, std::int32_t{65536}), 0);
    EXPECT_EQ(wrapMul(std::int32_t{31}, std::numeric_limits<std::int32_t>::min()),
              std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(wrapMul(std::int32_t{31}, std::int32_t{-2147483647}), -2147483617);
    EXPECT_EQ(wrapNeg(std::numeric_limits<std::int32_t>::min()), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(wrapSub(std::numeric_limits<std::int64_t>::min(), std::int64_t{1}),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(wrapAdd(std::numeric_limits<std::int64_t>::max(), std::int64_t{2}),
              std::numeric_limits<std::int64_t>::min() + 1);
}
