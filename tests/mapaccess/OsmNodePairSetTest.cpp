#include <gtest/gtest.h>

#include "mapaccess/OsmNodePairSet.h"

namespace ferrow::mapaccess {
namespace {

TEST(OsmNodePairSetTest, StagedPairsCountOnlyOnceFrozen) {
    OsmNodePairSet set(500);
    set.addTempPair(1, 2);
    EXPECT_FALSE(set.hasPair(1, 2));
    set.freezeTempPairs();
    EXPECT_TRUE(set.hasPair(1, 2));
    EXPECT_TRUE(set.hasPair(2, 1));
    EXPECT_FALSE(set.hasPair(1, 3));
    EXPECT_EQ(set.size(), 1);
    EXPECT_EQ(set.getFreezeCount(), 1);
    EXPECT_EQ(set.stagedCount(), 0);
}

TEST(OsmNodePairSetTest, ChainsPerFirstIdentifierAndRepeatedPairs) {
    OsmNodePairSet set(10);
    set.addTempPair(-5, 7);
    set.addTempPair(-5, 8);
    set.addTempPair(-5, 7);
    set.addTempPair(9, -5);
    set.freezeTempPairs();
    EXPECT_TRUE(set.hasPair(7, -5));
    EXPECT_TRUE(set.hasPair(-5, 8));
    EXPECT_TRUE(set.hasPair(-5, 9));
    EXPECT_EQ(set.size(), 4) << "every frozen pair is counted, repeated or not";
    set.addTempPair(100, 200);
    set.clearTempPairs();
    set.freezeTempPairs();
    EXPECT_FALSE(set.hasPair(100, 200));
    EXPECT_EQ(set.getFreezeCount(), 2);
}

TEST(OsmNodePairSetTest, FullStagingAreaDropsPairs) {
    OsmNodePairSet set(500);
    for (int i = 0; i < 501; ++i) {
        set.addTempPair(i, i + 1000);
    }
    EXPECT_EQ(set.stagedCount(), 500);
    set.freezeTempPairs();
    EXPECT_TRUE(set.hasPair(499, 1499));
    EXPECT_FALSE(set.hasPair(500, 1500));
    EXPECT_FALSE(OsmNodePairSet(0).hasPair(0, 0));
}

} // namespace
} // namespace ferrow::mapaccess
