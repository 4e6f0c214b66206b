#include <cmath>

#include <gtest/gtest.h>

#include "testsupport/ProfileFixture.h"

namespace ferrow::expressions {
namespace {

using testing::encodeTags;
using testing::kSmallLookups;
using testing::LoadedProfile;
using testing::parseFailure;
using testing::ProfileFromText;
using testing::TempDir;

const char* kProfile =
    "# a test profile\n"
    "---model:ferrow.router.StdModel\n"
    "---context:global\n"
    "assign speed_factor 2   # trailing comment\n"
    "assign check_start_way 1\n"
    "# noStartWay | ways that cannot start a route | x | ways=highway,motorway;oneway,-1;colour,red;highway,track\n"
    "# noStartWay | a second list | x | ways=highway,primary\n"
    "---context:way\n"
    "assign costfactor multiply speed_factor switch highway=residential 1.5 1\n"
    "assign turncost 90\n"
    "assign extra add costfactor 1\n"
    "---context:node\n"
    "assign initialcost switch barrier=gate add way:costfactor way:extra 0\n";

TEST(ProfileFileTest, GlobalSectionIsEvaluatedOnceAndReadOnly) {
    ProfileFromText profile(kProfile);
    BExpressionContextWay& way = profile.way();
    EXPECT_EQ(way.getModelClass(), "ferrow.router.StdModel");
    EXPECT_EQ(way.getVariableValue("speed_factor", -1.0f), 2.0f);
    EXPECT_EQ(way.getVariableValue("missing", -1.0f), -1.0f);
    EXPECT_EQ(way.getMinWriteIdx(), 2);
    EXPECT_EQ(way.getOutputSlotCount(), 21); // the node section's way:extra added a slot

    way.evaluate(false, encodeTags(way, {{"highway", "residential"}}));
    EXPECT_EQ(way.getCostfactor(), 3.0f);
    EXPECT_EQ(way.getTurncost(), 90.0f);
    EXPECT_EQ(way.getUphillcost(), 0.0f); // not in the profile: reads 0
    EXPECT_EQ(way.getVariableValue("speed_factor", -1.0f), 2.0f);

    try {
        way.getOutputVariableIndex("speed_factor", true);
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "bad access to global variable: speed_factor");
    }
    try {
        way.getOutputVariableIndex("nothing", true);
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "unknown variable: nothing");
    }
    // further slots are appended; an unknown optional variable shares a slot
    // of a build-in variable the profile lacks, which always reads 0
    EXPECT_EQ(way.getOutputVariableIndex("extra", true), 20);
    const int turnextra = way.getOutputVariableIndex("turncost", false);
    EXPECT_EQ(turnextra, BExpressionContextWay::TURNCOST);
    const int nothing = way.getOutputVariableIndex("nothing", false);
    EXPECT_EQ(nothing, BExpressionContextWay::UPHILLCOSTFACTOR);
    way.evaluate(true, encodeTags(way, {{"highway", "residential"}}));
    EXPECT_EQ(way.getOutput(20), 4.0f);
    EXPECT_EQ(way.getOutput(nothing), 0.0f);
    EXPECT_EQ(way.getOutputSlotCount(), 21);
}

TEST(ProfileFileTest, NodeContextReadsWayOutputs) {
    ProfileFromText profile(kProfile);
    BExpressionContextWay& way = profile.way();
    BExpressionContextNode& node = profile.node();
    way.evaluate(false, encodeTags(way, {{"highway", "residential"}}));
    node.evaluate(false, encodeTags(node, {{"barrier", "gate"}}));
    EXPECT_EQ(node.getInitialcost(), 7.0f); // 3 + 4
    way.evaluate(false, encodeTags(way, {{"highway", "primary"}}));
    node.evaluate(false, encodeTags(node, {{"barrier", "gate"}}));
    EXPECT_EQ(node.getInitialcost(), 5.0f); // 2 + 3
    node.evaluate(false, encodeTags(node, {{"barrier", "bollard"}}));
    EXPECT_EQ(node.getInitialcost(), 0.0f);
}

TEST(ProfileFileTest, NoStartWayListFromTheFirstQualifyingComment) {
    ProfileFromText profile(kProfile);
    BExpressionContextWay& way = profile.way();
    // highway=motorway and oneway=-1; colour is unknown and ends the list
    EXPECT_EQ(std::vector<int>(way.noStartWays().begin(), way.noStartWays().end()), (std::vector<int>{1, 8, 2, 3}));
    EXPECT_FALSE(way.checkStartWay(encodeTags(way, {{"highway", "motorway"}})));
    EXPECT_FALSE(way.checkStartWay(encodeTags(way, {{"highway", "track"}, {"oneway", "-1"}})));
    EXPECT_TRUE(way.checkStartWay(encodeTags(way, {{"highway", "track"}})));
    EXPECT_TRUE(way.checkStartWay(encodeTags(way, {{"highway", "primary"}})));
    EXPECT_TRUE(way.checkStartWay(util::ByteArray()));
    way.freeNoWays();
    EXPECT_TRUE(way.checkStartWay(encodeTags(way, {{"highway", "motorway"}})));
}

TEST(ProfileFileTest, NoStartWayNeedsCheckStartWay) {
    ProfileFromText without(
        "---context:global\n"
        "#noStartWay|a|b|ways=highway,motorway\n"
        "---context:way\nassign costfactor 1\n---context:node\nassign initialcost 0\n");
    EXPECT_TRUE(without.way().noStartWays().empty());
    // before the assignment the comment is skipped by the global pass, but the
    // own section's pass meets it again when the variable exists
    ProfileFromText before(
        "---context:global\n"
        "#noStartWay|a|b|ways=highway,motorway\n"
        "assign check_start_way 1\n"
        "#noStartWay|a|b|ways=highway,track\n"
        "---context:way\nassign costfactor 1\n---context:node\nassign initialcost 0\n");
    EXPECT_EQ(std::vector<int>(before.way().noStartWays().begin(), before.way().noStartWays().end()),
              (std::vector<int>{1, 4}));
    EXPECT_EQ(parseFailure<jcompat::RuntimeException>(
                  "---context:global\nassign check_start_way 1\n#noStartWay|a|b|ways=highway\n"
                  "---context:way\nassign costfactor 1\n---context:node\nassign initialcost 0\n")
                  .rfind("IndexOutOfBoundsException", 0),
              0u);
}

TEST(ProfileFileTest, OverridesReplaceTheFirstGlobalAssignment) {
    VariableOverrides overrides;
    overrides.put("speed_factor", "4");
    overrides.put("new_variable", "1.5");
    ProfileFromText profile(kProfile, &overrides);
    EXPECT_EQ(profile.way().getVariableValue("speed_factor", 0.0f), 4.0f);
    EXPECT_EQ(profile.way().getVariableValue("new_variable", 0.0f), 1.5f);
    EXPECT_EQ(profile.wayOutput("costfactor", {{"highway", "residential"}}), 6.0f);

    ProfileFromText later(
        "---context:global\nassign a 1\nassign b a\nassign a 3\nassign c a\n"
        "---context:way\nassign costfactor add b c\n---context:node\nassign initialcost 0\n",
        &overrides);
    VariableOverrides overrideA;
    overrideA.put("a", "2");
    ProfileFromText overridden(
        "---context:global\nassign a 1\nassign b a\nassign a 3\nassign c a\n"
        "---context:way\nassign costfactor add b c\n---context:node\nassign initialcost 0\n",
        &overrideA);
    EXPECT_EQ(later.wayOutput("costfactor"), 4.0f);      // 1 + 3
    EXPECT_EQ(overridden.wayOutput("costfactor"), 5.0f); // 2 + 3
}

TEST(ProfileFileTest, OverrideErrors) {
    VariableOverrides notANumber;
    notANumber.put("speed_factor", "fast");
    EXPECT_EQ(parseFailure(kProfile, &notANumber), "ParseException test.vpf at line 1: For input string: \"fast\"");
    VariableOverrides wayVariable;
    wayVariable.put("turncost", "5");
    EXPECT_EQ(parseFailure(kProfile, &wayVariable),
              "ParseException test.vpf at line 10: cannot assign to readonly variable turncost");
}

TEST(ProfileFileTest, FileLevelErrors) {
    TempDir dir;
    BExpressionMetaData meta;
    BExpressionContextWay way(0, meta);
    BExpressionContextNode node(0, meta);
    meta.readMetaData(jcompat::File(dir.write("lookups.dat", kSmallLookups)));
    try {
        way.parseFile(jcompat::File(dir.path() + "/missing.vpf"), "global");
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "profile missing.vpf does not exist");
    }
    const std::string onlyWay = dir.write("onlyway.vpf", "---context:way\nassign costfactor 1\n");
    way.parseFile(jcompat::File(onlyWay), "global"); // no global section is fine
    try {
        node.parseFile(jcompat::File(onlyWay), "global");
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "onlyway.vpf does not contain expressions for context node (old version?)");
    }
    EXPECT_EQ(parseFailure("---context:global\nassign a 1\n---context:way\nassign x node:initialcost\n"),
              "ParseException test.vpf at line 5: unknown foreign context: node");
    EXPECT_EQ(parseFailure("---context:global\nassign a 1\n---context:way\nassign costfactor 1\n"
                           "---context:node\nassign initialcost way:nothing\n"),
              "ParseException test.vpf at line 7: unknown variable: nothing");
}

TEST(ProfileFileTest, TokenizerRules) {
    // a "#" inside a token stays; "---model:" with a blank leaves an empty model
    // class and makes the class name an ordinary token; no-break spaces are
    // part of tokens, other Unicode spaces separate them.
    ProfileFromText profile(
        "---context:way\n"
        "---model: assign\u3000costfactor\tswitch highway=residential 7 1\r\n"
        "assign x#y 2\n"
        "---context:node\nassign initialcost 0\n");
    EXPECT_EQ(profile.way().getModelClass(), "");
    EXPECT_EQ(profile.wayOutput("x#y"), 2.0f);
    EXPECT_EQ(profile.wayOutput("costfactor", {{"highway", "primary"}}), 1.0f);
    ProfileFromText noBreakSpace("---context:way\nassign x\u00A0y 1\n---context:node\nassign initialcost 0\n");
    EXPECT_EQ(noBreakSpace.wayOutput("x\u00A0y"), 1.0f); // one name
    EXPECT_EQ(parseFailure("---context:way\nassign x 7#x\n"),
              "ParseException test.vpf at line 3: unknown expression: 7#x");
}

TEST(ProfileFileTest, LineNumberCountsTheLineFeedThatEndsAToken) {
    // the failing token is the last of line 2, so line 3 is reported
    EXPECT_EQ(parseFailure("---context:way\nassign x nothing\nassign y 1\n"),
              "ParseException test.vpf at line 3: unknown expression: nothing");
    // a failing token in the middle of line 2 reports line 2
    EXPECT_EQ(parseFailure("---context:way\nassign x nothing assign y 1\n"),
              "ParseException test.vpf at line 2: unknown expression: nothing");
}

TEST(ProfileFileTest, SectionsOfOtherContextsAreSkipped) {
    // the way context never sees the node section's statements and vice versa
    ProfileFromText profile("---context:node\nassign initialcost 3\n---context:way\nassign costfactor 2\n");
    EXPECT_EQ(profile.wayOutput("costfactor"), 2.0f);
    profile.node().evaluate(false, encodeTags(profile.node(), {}));
    EXPECT_EQ(profile.node().getInitialcost(), 3.0f);
}

} // namespace
} // namespace ferrow::expressions
