#include <cmath>

#include <gtest/gtest.h>

#include "expressions/BExpression.h"
#include "testsupport/ProfileFixture.h"

namespace ferrow::expressions {
namespace {

using testing::parseFailure;
using testing::ProfileFromText;

// A way section (after a global one) with the given statements.
std::string waySection(const std::string& statements) {
    return "---context:global\nassign g 2\n---context:way\n" + statements + "\n---context:node\nassign initialcost 0\n";
}

float evaluateWay(const std::string& statements, const std::string& variable,
                  const std::vector<std::pair<std::string, std::string>>& tags = {}) {
    ProfileFromText profile(waySection(statements));
    return profile.wayOutput(variable, tags);
}

std::string failureOf(const std::string& statements) { return parseFailure(waySection(statements)); }

TEST(ExpressionParseTest, AssignmentWithOrWithoutEqualsSign) {
    EXPECT_EQ(evaluateWay("assign x 1", "x"), 1.0f);
    EXPECT_EQ(evaluateWay("assign x = 1", "x"), 1.0f);
    EXPECT_EQ(evaluateWay("assign x ( add 1 2 )", "x"), 3.0f);
}

TEST(ExpressionParseTest, ShortcutsKeepTheChosenNode) {
    // foo is 5 for residential ways, 0 otherwise
    const std::string foo = "assign foo switch highway=residential 5 0\n";
    const std::vector<std::pair<std::string, std::string>> residential = {{"highway", "residential"}};
    EXPECT_EQ(evaluateWay(foo + "assign x add 0 foo", "x", residential), 5.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x or 3 foo", "x", residential), 3.0f); // not 1
    EXPECT_EQ(evaluateWay(foo + "assign x or foo 0", "x", residential), 5.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x and foo 1", "x", residential), 5.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x and 7 foo", "x", residential), 5.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x and foo 0", "x", residential), 0.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x if 1 then foo else 9", "x", residential), 5.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x switch 0 foo 9", "x", residential), 9.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x or foo 3", "x", residential), 3.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x and foo 3", "x", residential), 5.0f);
    // without a constant operand, "or" and "and" answer 0 or 1
    EXPECT_EQ(evaluateWay(foo + "assign x or foo foo", "x", residential), 1.0f);
    EXPECT_EQ(evaluateWay(foo + "assign x and foo foo", "x", residential), 1.0f);
}

TEST(ExpressionParseTest, ConstantsFoldAtParseTime) {
    EXPECT_EQ(failureOf("assign x divide 1 0"), "ParseException test.vpf at line 5: div by zero");
    // g is a constant of the global section, so the division folds too
    EXPECT_EQ(failureOf("assign x divide g 0 assign y 1"), "ParseException test.vpf at line 4: div by zero");
    EXPECT_EQ(evaluateWay("assign x multiply g add g 1", "x"), 6.0f);
}

TEST(ExpressionParseTest, DivisionByAVariableFailsOnlyWhenEvaluated) {
    ProfileFromText profile(waySection("assign foo switch highway=residential 0 1\nassign x divide 1 foo"));
    EXPECT_EQ(profile.wayOutput("x", {{"highway", "primary"}}), 1.0f);
    try {
        profile.wayOutput("x", {{"highway", "residential"}});
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "div by zero");
    }
}

TEST(ExpressionParseTest, VariablesAssignedAConstantBecomeThatConstant) {
    // x is the constant 5 from its assignment on; a later assignment of another
    // value does not change references parsed before it.
    ProfileFromText profile(waySection("assign x 5\nassign y add x 1\nassign x 7\nassign z add x 1"));
    EXPECT_EQ(profile.wayOutput("y"), 6.0f);
    EXPECT_EQ(profile.wayOutput("z"), 8.0f);
    // a variable assigned an expression stays a reference
    EXPECT_EQ(evaluateWay("assign foo switch highway=residential 5 0\nassign x foo\nassign y x", "y",
                          {{"highway", "residential"}}),
              5.0f);
    // the name exists before its expression is read
    EXPECT_EQ(evaluateWay("assign x add x 1", "x"), 1.0f);
}

TEST(ExpressionParseTest, TagMatches) {
    const std::string statements = "assign absent highway=\nassign main highway=primary|motorway\n";
    EXPECT_EQ(evaluateWay(statements, "absent"), 1.0f);
    EXPECT_EQ(evaluateWay(statements, "absent", {{"highway", "track"}}), 0.0f);
    EXPECT_EQ(evaluateWay(statements, "main", {{"highway", "motorway"}}), 1.0f);
    EXPECT_EQ(evaluateWay(statements, "main", {{"highway", "primary"}}), 1.0f);
    EXPECT_EQ(evaluateWay(statements, "main", {{"highway", "track"}}), 0.0f);
    EXPECT_EQ(evaluateWay("assign x highway=|primary", "x"), 0.0f); // the empty piece is dropped
    EXPECT_EQ(failureOf("assign x oneway=true"),
              "ParseException test.vpf at line 5: unknown lookup value: true"); // only an alias
    EXPECT_EQ(failureOf("assign x colour=red"), "ParseException test.vpf at line 5: unknown lookup name: colour");
    EXPECT_EQ(failureOf("assign x v:colour"), "ParseException test.vpf at line 5: unknown lookup name: colour");
}

TEST(ExpressionParseTest, ErrorTexts) {
    EXPECT_EQ(failureOf("assign x 1\n3"),
              "ParseException test.vpf at line 6: operator 3 is invalid on toplevel (only 'assign' allowed)");
    EXPECT_EQ(failureOf("assign x add 1 assign y 2"),
              "ParseException test.vpf at line 4: assign operator within expression");
    EXPECT_EQ(failureOf("assign x add 1 nothing"), "ParseException test.vpf at line 5: unknown expression: nothing");
    EXPECT_EQ(failureOf("assign x if 1 else 2"),
              "ParseException test.vpf at line 4: unexpected token: else, expected: then");
    EXPECT_EQ(failureOf("assign x ( add 1 2"),
              "ParseException test.vpf at line 7: unexpected token: null, expected: )");
    EXPECT_EQ(failureOf("assign a=b 1"), "ParseException test.vpf at line 4: variable name cannot contain '=': a=b");
    EXPECT_EQ(failureOf("assign node:b 1"),
              "ParseException test.vpf at line 4: cannot assign context-prefixed variable: node:b");
    EXPECT_EQ(failureOf("assign g 1"), "ParseException test.vpf at line 4: cannot assign to readonly variable g");
    EXPECT_EQ(parseFailure("---context:way\nassign x"), "ParseException test.vpf at line 3: unexpected end of file");
    EXPECT_EQ(parseFailure("---context:way\nassign x add 1"),
              "ParseException test.vpf at line 3: unexpected end of file");
}

// Deeper profiles need a request worker's stack: the service tests parse them.
TEST(ExpressionParseTest, NestedExpressions) {
    std::string allowed = "assign foo switch highway=residential 1 0\nassign x ";
    for (int i = 0; i < 999; ++i) {
        allowed += "add foo ";
    }
    allowed += "1";
    EXPECT_EQ(evaluateWay(allowed, "x", {{"highway", "residential"}}), 1000.0f);
}

TEST(ExpressionEvaluateTest, OperatorsInThirtyTwoBitFloat) {
    const std::string foo = "assign foo switch highway=residential 3 0\n";
    const std::vector<std::pair<std::string, std::string>> tags = {{"highway", "residential"}};
    auto eval = [&](const std::string& expression) { return evaluateWay(foo + "assign x " + expression, "x", tags); };
    EXPECT_EQ(eval("sub add 16777216 1 16777216"), 0.0f); // 16777217 is no float
    EXPECT_EQ(eval("divide foo 7"), 3.0f / 7.0f);
    EXPECT_EQ(eval("multiply foo 0.1"), 3.0f * 0.1f);
    EXPECT_EQ(eval("max foo 2"), 3.0f);
    EXPECT_EQ(eval("min foo 2"), 2.0f);
    EXPECT_EQ(eval("equal foo 3"), 1.0f);
    EXPECT_EQ(eval("greater foo 3"), 0.0f);
    EXPECT_EQ(eval("lesser foo 4"), 1.0f);
    EXPECT_EQ(eval("xor foo 0"), 1.0f);
    EXPECT_EQ(eval("xor foo 5"), 0.0f);
    EXPECT_EQ(eval("not foo"), 0.0f);
    EXPECT_EQ(eval("not sub foo 3"), 1.0f);
    EXPECT_EQ(eval("if greater foo 1 then 10 else 20"), 10.0f);
    EXPECT_EQ(eval("true"), 1.0f);
    EXPECT_EQ(eval("false"), 0.0f);
    EXPECT_EQ(eval("2.5d"), 2.5f);
}

TEST(ExpressionEvaluateTest, NotANumberCountsAsNonZeroAndLosesComparisons) {
    // v:maxspeed of a way without maxspeed is NaN
    const std::string nan = "assign nan v:maxspeed\n";
    EXPECT_EQ(evaluateWay(nan + "assign x max nan 5", "x"), 5.0f);
    EXPECT_TRUE(std::isnan(evaluateWay(nan + "assign x max 5 nan", "x")));
    EXPECT_EQ(evaluateWay(nan + "assign x min nan 5", "x"), 5.0f);
    EXPECT_EQ(evaluateWay(nan + "assign x not nan", "x"), 0.0f);
    EXPECT_EQ(evaluateWay(nan + "assign x equal nan nan", "x"), 0.0f);
    EXPECT_EQ(evaluateWay(nan + "assign x switch nan 1 2", "x"), 1.0f);
}

TEST(ExpressionEvaluateTest, LazyOperandsAreNotEvaluated) {
    // the division by zero sits in the branch that is not taken
    const std::string zero = "assign zero switch highway=residential 0 1\n";
    const std::vector<std::pair<std::string, std::string>> tags = {{"highway", "residential"}};
    EXPECT_EQ(evaluateWay(zero + "assign x or 1 divide 1 zero", "x", tags), 1.0f);
    EXPECT_EQ(evaluateWay(zero + "assign x and zero divide 1 zero", "x", tags), 0.0f);
    EXPECT_EQ(evaluateWay(zero + "assign x switch zero divide 1 zero 4", "x", tags), 4.0f);
}

} // namespace
} // namespace ferrow::expressions
