#include "util/CheapAngleMeter.h"
#include "util/CheapRuler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

// Expected values were worked out from the band, distance, destination and
// angle formulas in 64-bit floating point, step by step in the same order.

TEST(CheapRulerTest, ScalesOfLatitudeBands) {
    const CheapRuler::Scales& equator = CheapRuler::scalesAt(90000000); // band 900, middle 0.05 degrees
    EXPECT_EQ(equator.kx, 0.11132065789914114);
    EXPECT_EQ(equator.ky, 0.11056724085483242);
    EXPECT_EQ(&CheapRuler::scalesAt(90099999), &equator);
    const CheapRuler::Scales& north50 = CheapRuler::scalesAt(140012345); // band 1400
    EXPECT_EQ(north50.kx, 0.07162372247058588);
    EXPECT_EQ(north50.ky, 0.11123023014367706);
    EXPECT_EQ(CheapRuler::scalesAt(0).kx, 9.747608504683149e-05);
    EXPECT_EQ(CheapRuler::scalesAt(179999999).ky, 0.11169933913054596);
}

TEST(CheapRulerTest, BandsOutsideTheTableAreRefused) {
    EXPECT_THAT([&] { CheapRuler::scalesAt(180000000); },
                ThrowsMessage<jcompat::IndexOutOfBoundsException>(StrEq("Index 1800 out of bounds for length 1800")));
    EXPECT_THROW(CheapRuler::scalesAt(-100000), jcompat::IndexOutOfBoundsException);
    EXPECT_NO_THROW(CheapRuler::scalesAt(-99999)); // truncates to band 0
    EXPECT_THROW(CheapRuler::distance(0, 179999999, 0, 180000001), jcompat::IndexOutOfBoundsException);
    CheapAngleMeter meter;
    EXPECT_THROW(meter.calcAngle(0, 0, 0, -200000, 0, 0), jcompat::IndexOutOfBoundsException);
}

TEST(CheapRulerTest, Distances) {
    EXPECT_EQ(CheapRuler::distance(188500000, 140050000, 188500000, 140050000), 0.0);
    EXPECT_EQ(CheapRuler::distance(180000000, 90000000, 180001000, 90001000), 156.89934233561382);
    // Mean latitude 140020000: band 1400.
    EXPECT_EQ(CheapRuler::distance(188500000, 140050000, 188512345, 139990000), 6732.131259251966);
    EXPECT_EQ(CheapRuler::distance(188512345, 139990000, 188500000, 140050000), 6732.131259251966);
}

TEST(CheapRulerTest, Destinations) {
    EXPECT_EQ(CheapRuler::destination(188500000, 140050000, 0.0, 123.0),
              (std::array<std::int32_t, 2>{188500000, 140050000}));
    // 188513962.35..., 140050000.5
    EXPECT_EQ(CheapRuler::destination(188500000, 140050000, 1000.0, 90.0),
              (std::array<std::int32_t, 2>{188513962, 140050000}));
    // 188475319.19..., 140034107.63...
    EXPECT_EQ(CheapRuler::destination(188500000, 140050000, 2500.0, 225.0),
              (std::array<std::int32_t, 2>{188475319, 140034107}));
    // Far beyond the grid: saturated, never undefined.
    const auto far = CheapRuler::destination(188500000, 140050000, 1e300, 90.0);
    EXPECT_EQ(far[0], 2147483647);
}

TEST(CheapAngleMeterTest, TurnAngles) {
    CheapAngleMeter meter;
    EXPECT_EQ(meter.getCosAngle(), 0.0);
    const std::int32_t lon = 188500000;
    const std::int32_t lat = 140000000;

    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon, lat + 2000), 0.0); // straight on
    EXPECT_EQ(meter.getCosAngle(), 1.0);
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon + 1000, lat + 1000), 90.0); // north, then east
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon - 1000, lat + 1000), -90.0);
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon, lat), 180.0); // back the same way
    EXPECT_EQ(meter.getCosAngle(), -1.0);

    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon + 1000, lat + 2000), 32.859953542994205);
    EXPECT_EQ(meter.getCosAngle(), 0.8407705399726072);
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon - 1000, lat + 1100), -81.14823140124508);
    EXPECT_EQ(meter.getCosAngle(), 0.15345853860652492);
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon + 1000, lat - 10000), 176.64057040585445);
    EXPECT_EQ(meter.getCosAngle(), -0.9982910147114363);
    // Mirrored turns give the negated angles exactly.
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon - 1000, lat + 2000), -32.859953542994205);
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon + 1000, lat + 1100), 81.14823140124508);
    EXPECT_EQ(meter.calcAngle(lon, lat, lon, lat + 1000, lon - 1000, lat - 10000), -176.64057040585445);
}

TEST(CheapAngleMeterTest, LegsWithoutLengthGiveNoTurn) {
    CheapAngleMeter meter;
    meter.calcAngle(0, 140000000, 0, 140001000, 1000, 140001000);
    EXPECT_EQ(meter.calcAngle(5, 140000000, 5, 140000000, 900, 140000700), 0.0);
    EXPECT_EQ(meter.getCosAngle(), 1.0);
    meter.calcAngle(0, 140000000, 0, 140001000, 1000, 140001000);
    EXPECT_EQ(meter.calcAngle(5, 140000000, 900, 140000700, 900, 140000700), 0.0);
    EXPECT_EQ(meter.getCosAngle(), 1.0);
    EXPECT_EQ(meter.calcCosAngle(5, 140000000, 5, 140000000, 900, 140000700), 1.0);
}

// The cosine alone is the very cosine calcAngle keeps, and is kept in turn.
TEST(CheapAngleMeterTest, CosineAloneEqualsTheTurnsCosine) {
    CheapAngleMeter meter;
    const std::int32_t lon = 188500000;
    const std::int32_t lat = 140000000;
    const std::int32_t ends[][2] = {{0, 2000}, {1000, 1000}, {-1000, 1100}, {1000, -10000}, {3, 1001}, {-7, -9}};
    for (const auto& [dlon, dlat] : ends) {
        meter.calcAngle(lon, lat, lon + 10, lat + 1000, lon + dlon, lat + dlat);
        const double cosine = meter.getCosAngle();
        meter.calcAngle(lon, lat, lon, lat + 1, lon, lat + 2); // another turn in between
        EXPECT_EQ(meter.calcCosAngle(lon, lat, lon + 10, lat + 1000, lon + dlon, lat + dlat), cosine);
        EXPECT_EQ(meter.getCosAngle(), cosine);
    }
    EXPECT_EQ(meter.calcCosAngle(lon, lat, lon, lat + 1000, lon + 1000, lat + 2000), 0.8407705399726072);
    EXPECT_THROW(meter.calcCosAngle(0, 0, 0, -200000, 0, 0), jcompat::IndexOutOfBoundsException);
}

} // namespace
} // namespace ferrow::util
