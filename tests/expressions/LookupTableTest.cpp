#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "testsupport/ProfileFixture.h"

namespace ferrow::expressions {
namespace {

using testing::kSmallLookups;
using testing::LoadedProfile;
using testing::TempDir;

class LookupTableTest : public ::testing::Test {
protected:
    BExpressionMetaData meta;
    BExpressionContextWay way{0, meta};
    BExpressionContextNode node{0, meta};
};

TEST_F(LookupTableTest, TagLinesRegisterTagsValuesAndAliases) {
    meta.parseLine("  ---context:way  ");
    meta.parseLine("highway;0000123 residential");
    meta.parseLine("highway  primary main major");
    meta.parseLine("highway residential street"); // known value: its aliases are not added
    meta.parseLine("# comment");
    meta.parseLine("");
    meta.parseLine("highway main");        // an alias resolves to its value
    meta.parseLine("reversedirection no"); // the direction tag is fixed

    ASSERT_EQ(way.lookupTagCount(), 2);
    EXPECT_EQ(way.getLookupNameIdx("reversedirection"), 0);
    EXPECT_EQ(way.getLookupNameIdx("highway"), 1);
    EXPECT_EQ(way.getLookupKey("highway"), 1);
    EXPECT_EQ(way.getLookupNameIdx("surface"), -1);
    EXPECT_EQ(way.getLookupKey("estimated_forest_class"), -1);

    const auto& direction = way.lookupValues(0);
    ASSERT_EQ(direction.size(), 3u);
    EXPECT_EQ(direction[0].toString(), "");
    EXPECT_EQ(direction[1].toString(), "unknown");
    EXPECT_EQ(direction[2].toString(), "yes");

    const auto& highway = way.lookupValues(1);
    ASSERT_EQ(highway.size(), 4u);
    EXPECT_EQ(highway[3].toString(), "primary");
    EXPECT_EQ(highway[3].aliases(), (std::vector<std::string>{"main", "major"}));
    EXPECT_TRUE(highway[2].aliases().empty());
    EXPECT_EQ(way.getLookupValueIdx(1, "primary"), 3);
    EXPECT_EQ(way.getLookupValueIdx(1, "main"), -1); // aliases only count while registering
    EXPECT_EQ(way.getLookupValueIdx(1, ""), 0);
    EXPECT_EQ(way.getLookupValueIdx(1, "unknown"), 1);
    EXPECT_EQ(way.lookupData()[1], 3); // the last line named "main", value index 3

    EXPECT_THROW(way.getLookupValueIdx(7, "x"), std::out_of_range);
}

TEST_F(LookupTableTest, VersionLinesAndContextSelection) {
    meta.parseLine("---lookupversion:10");
    meta.parseLine("---minorversion:7");
    meta.parseLine("---readvarlength");
    meta.parseLine("highway residential"); // no context selected yet
    meta.parseLine("---context:global");   // no such context: lines are dropped
    meta.parseLine("highway residential");
    meta.parseLine("---context:node");
    meta.parseLine("barrier gate");
    meta.parseLine("---context:way");
    meta.parseLine("highway primary");
    meta.parseLine("---minorversion:8"); // a later line overwrites

    EXPECT_EQ(meta.lookupVersion, 10);
    EXPECT_EQ(meta.minorVersion, 8);
    EXPECT_EQ(meta.minAppVersion, -1);
    EXPECT_EQ(way.lookupTagCount(), 2);
    EXPECT_EQ(node.lookupTagCount(), 2);
    EXPECT_EQ(node.lookupName(0), "nodeaccessgranted");
    EXPECT_EQ(node.lookupName(1), "barrier");
    EXPECT_FALSE(way.createNewLookupData().has_value());
    meta.finishMetaParsing();
    EXPECT_EQ(way.createNewLookupData(), std::vector<int>({0, 0}));
    EXPECT_FALSE(way.isLookupIdxUsed(1));
    EXPECT_FALSE(way.isLookupIdxUsed(2));
}

TEST_F(LookupTableTest, VersionNumbersMustFitSixteenBits) {
    EXPECT_EQ(BExpressionMetaData::parseShort("-32768"), -32768);
    try {
        meta.parseLine("---lookupversion:40000");
        FAIL();
    } catch (const jcompat::NumberFormatException& e) {
        EXPECT_STREQ(e.what(), "Value out of range. Value:\"40000\" Radix:10");
    }
    try {
        meta.parseLine("---lookupversion:1x");
        FAIL();
    } catch (const jcompat::NumberFormatException& e) {
        EXPECT_STREQ(e.what(), "For input string: \"1x\"");
    }
}

TEST_F(LookupTableTest, ContextWithoutTagLinesFails) {
    meta.parseLine("---context:way");
    meta.parseLine("highway primary");
    try {
        meta.finishMetaParsing();
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "lookup table does not contain data for context node (old version?)");
    }
}

TEST_F(LookupTableTest, TagLineWithoutValueFails) {
    meta.parseLine("---context:way");
    EXPECT_THROW(meta.parseLine("highway"), jcompat::NoSuchElementException);
}

TEST_F(LookupTableTest, ATagHoldsAtMostFiveHundredValues) {
    meta.parseLine("---context:way");
    for (int i = 0; i < 498; ++i) {
        meta.parseLine("ref r" + std::to_string(i));
    }
    EXPECT_EQ(way.lookupValues(1).size(), 500u);
    EXPECT_EQ(way.addLookupValue("ref", "r1000"), nullptr);
    meta.parseLine("ref r999 alias");
    EXPECT_EQ(way.lookupValues(1).size(), 500u);
    EXPECT_EQ(way.getLookupValueIdx(1, "r999"), -1);
    EXPECT_EQ(way.lookupData()[1], 499); // a dropped value leaves the entry as it was
}

TEST(LookupFileTest, ReadsTheProjectTable) {
    LoadedProfile profile(FERROW_SOURCE_DIR "/profiles/lookups.dat");
    EXPECT_EQ(profile.meta.lookupVersion, 1);
    EXPECT_EQ(profile.meta.minorVersion, 0);
    BExpressionContextWay& way = *profile.way;
    EXPECT_EQ(way.lookupName(1), "highway");
    EXPECT_EQ(way.getLookupValueIdx(1, "residential"), 2);
    const int oneway = way.getLookupNameIdx("oneway");
    EXPECT_EQ(way.getLookupValueIdx(oneway, "yes"), 2);
    EXPECT_GE(way.getLookupKey("estimated_forest_class"), 0);
    EXPECT_GE(way.getLookupKey("estimated_river_class"), 0);
    EXPECT_GE(profile.node->getLookupNameIdx("barrier"), 0);
    EXPECT_LT(way.lookupTagCount(), 512); // start-way checks see every tag
}

TEST(LookupFileTest, MissingFileFails) {
    TempDir dir;
    BExpressionMetaData meta;
    BExpressionContextWay way(0, meta);
    EXPECT_THROW(meta.readMetaData(jcompat::File(dir.path() + "/lookups.dat")), jcompat::IOException);
}

TEST(LookupFileTest, FileWithoutContextsFailsForWay) {
    TempDir dir;
    BExpressionMetaData meta;
    BExpressionContextWay way(0, meta);
    BExpressionContextNode node(0, meta);
    try {
        meta.readMetaData(jcompat::File(dir.write("lookups.dat", "---lookupversion:3\nhighway primary\n")));
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "lookup table does not contain data for context way (old version?)");
    }
}

} // namespace
} // namespace ferrow::expressions
