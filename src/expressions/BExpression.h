#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ferrow::expressions {

class BExpressionContext;

// One node of a profile expression tree. Nodes live in their context's node
// arena and point at each other without owning: folding shares constant nodes
// between statements, so a tree is in general a DAG.
class BExpression {
public:
    static constexpr int OP_OR = 10;
    static constexpr int OP_AND = 11;
    static constexpr int OP_NOT = 12;
    static constexpr int OP_ADD = 20;
    static constexpr int OP_MULTIPLY = 21;
    static constexpr int OP_DIVIDE = 22;
    static constexpr int OP_MAX = 23;
    static constexpr int OP_EQUAL = 24;
    static constexpr int OP_GREATER = 25;
    static constexpr int OP_MIN = 26;
    static constexpr int OP_SUB = 27;
    static constexpr int OP_LESSER = 28;
    static constexpr int OP_XOR = 29;
    static constexpr int OP_SWITCH = 30;
    static constexpr int OP_ASSIGN = 31;
    static constexpr int OP_LOOKUP_MATCH = 32;
    static constexpr int OP_NUMBER = 33;
    static constexpr int OP_VARIABLE = 34;
    static constexpr int OP_FOREIGN_VARIABLE = 35;
    static constexpr int OP_LOOKUP_VALUE = 36;

    // Parsing, marking and evaluation recurse once per level. A level takes
    // about 0.5 KiB of stack (2.5 KiB with the sanitizers), so this bound
    // keeps the deepest profile within half of a request worker's 256 MiB.
    static constexpr int MAX_NESTING_DEPTH = 50000;

    BExpression* op1 = nullptr;
    BExpression* op2 = nullptr;
    BExpression* op3 = nullptr;
    std::vector<int> lookupValueIdxArray;
    int typ = 0;
    float numberValue = 0.0f;
    int variableIdx = 0;
    int lookupNameIdx = -1;
    bool doNotChange = false; // the injected mark of an override constant

    // Parses one expression; at depth 0 one statement, or null at the end of
    // the input. `optionalToken` is skipped when it is the next token.
    static BExpression* parse(BExpressionContext& ctx, int level, const char* optionalToken = nullptr);

    // Reads the next token and fails unless it equals `expected`.
    static void checkExpectedToken(BExpressionContext& ctx, const std::string& expected);

    // 32-bit float evaluation; `ctx` may be null only for trees that read no
    // variables and no tags (constant folding).
    float evaluate(BExpressionContext* ctx) const;

    // Sets the context's used flag of every tag the tree refers to; answers
    // the number of nodes visited.
    static int markLookupIdxUsed(const BExpression* e, BExpressionContext& ctx);

    std::string toString() const;

private:
    static BExpression* parseRaw(BExpressionContext& ctx, int level, const char* optionalToken);
    static BExpression* tryFold(BExpressionContext& ctx, BExpression* exp);
    static BExpression* simplify(BExpressionContext& ctx, BExpression* exp);
    static bool isConstant(const BExpression* e) { return e != nullptr && e->typ == OP_NUMBER; }
};

} // namespace ferrow::expressions
