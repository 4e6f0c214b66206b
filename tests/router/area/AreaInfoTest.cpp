// The sector statistics of round trips: shares of the counted ways, their
// report, and the centre block the area scan leaves out.
#include <gtest/gtest.h>

#include "router/area/AreaInfo.h"
#include "router/area/AreaReader.h"

namespace ferrow::router {
namespace {

TEST(AreaInfo, SharesAreWholePercentTruncated) {
    AreaInfo sector(180);
    EXPECT_EQ(sector.getElev50Weight(), 0); // no ways: no division
    sector.ways = 3;
    sector.elev50 = 2;
    sector.greenWays = 1;
    sector.riverWays = 3;
    EXPECT_EQ(sector.getElev50Weight(), 66); // 66.67
    EXPECT_EQ(sector.getGreen(), 33);
    EXPECT_EQ(sector.getRiver(), 100);
    sector.startElevation = 412.5;
    EXPECT_EQ(sector.toString(),
              "Area 180 412.5m ways 3\nArea ways <50m  2 66%\nArea ways green 1 33%\n"
              "Area ways river 3 100%");
}

TEST(AreaReaderCells, CentreBlockGrowsWithTheScan) {
    EXPECT_FALSE(AreaReader::ignoreCenter(2, 0, 0));
    EXPECT_TRUE(AreaReader::ignoreCenter(3, 0, 0));
    EXPECT_FALSE(AreaReader::ignoreCenter(7, 1, 0));
    EXPECT_TRUE(AreaReader::ignoreCenter(8, 1, -1));
    EXPECT_FALSE(AreaReader::ignoreCenter(12, 2, 0));
    EXPECT_TRUE(AreaReader::ignoreCenter(13, -2, 2));
}

} // namespace
} // namespace ferrow::router
