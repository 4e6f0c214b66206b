#include <gtest/gtest.h>

#include "mapaccess/TurnRestriction.h"

namespace ferrow::mapaccess {
namespace {

TurnRestriction restriction(bool positive, std::int32_t fromLon, std::int32_t toLon, std::int16_t exceptions = 0) {
    TurnRestriction r;
    r.isPositive = positive;
    r.fromLon = fromLon;
    r.fromLat = 500;
    r.toLon = toLon;
    r.toLat = 500;
    r.exceptions = exceptions;
    return r;
}

bool forbidden(const TurnRestriction* first, std::int32_t fromLon, std::int32_t toLon, bool bike = false,
               bool car = false) {
    return TurnRestriction::isTurnForbidden(first, fromLon, 500, toLon, 500, bike, car);
}

TEST(TurnRestrictionTest, PositiveRestrictionAllowsOnlyItsTurn) {
    TurnRestriction onlyToB = restriction(true, 1, 2);
    EXPECT_FALSE(forbidden(&onlyToB, 1, 2));
    EXPECT_TRUE(forbidden(&onlyToB, 1, 3));
    EXPECT_FALSE(forbidden(&onlyToB, 4, 3)) << "another from-position is not restricted";
}

TEST(TurnRestrictionTest, NegativeRestrictionForbidsOnlyItsTurn) {
    TurnRestriction noToC = restriction(false, 1, 3);
    EXPECT_TRUE(forbidden(&noToC, 1, 3));
    EXPECT_FALSE(forbidden(&noToC, 1, 2));
    EXPECT_FALSE(forbidden(nullptr, 1, 3));
}

TEST(TurnRestrictionTest, ExceptionsApplyOnlyWithTheirFlag) {
    TurnRestriction noToC = restriction(false, 1, 3, TurnRestriction::EXCEPT_BIKES);
    TurnRestriction onlyToB = restriction(true, 7, 2, TurnRestriction::EXCEPT_MOTORCARS);
    noToC.next = &onlyToB;
    EXPECT_TRUE(forbidden(&noToC, 1, 3));
    EXPECT_FALSE(forbidden(&noToC, 1, 3, true, false));
    EXPECT_TRUE(forbidden(&noToC, 1, 3, false, true));
    EXPECT_TRUE(forbidden(&noToC, 7, 3));
    EXPECT_FALSE(forbidden(&noToC, 7, 3, false, true));
}

TEST(TurnRestrictionTest, Text) {
    EXPECT_EQ(restriction(true, 1, 2).toString(), "pos=true fromLon=1 fromLat=500 toLon=2 toLat=500");
}

} // namespace
} // namespace ferrow::mapaccess
