#include "expressions/BExpression.h"

#include "expressions/BExpressionContext.h"
#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"
#include "jcompat/StringTokenizer.h"

namespace ferrow::expressions {

using jcompat::IllegalArgumentException;

namespace {

struct BinaryOperator {
    const char* keyword;
    int typ;
};

constexpr BinaryOperator kBinaryOperators[] = {
    {"or", BExpression::OP_OR},         {"and", BExpression::OP_AND},       {"multiply", BExpression::OP_MULTIPLY},
    {"divide", BExpression::OP_DIVIDE}, {"add", BExpression::OP_ADD},       {"max", BExpression::OP_MAX},
    {"min", BExpression::OP_MIN},       {"equal", BExpression::OP_EQUAL},   {"greater", BExpression::OP_GREATER},
    {"sub", BExpression::OP_SUB},       {"lesser", BExpression::OP_LESSER}, {"xor", BExpression::OP_XOR},
};

bool isZero(float value) { return value == 0.0f; }

} // namespace

BExpression* BExpression::parse(BExpressionContext& ctx, int level, const char* optionalToken) {
    if (level > MAX_NESTING_DEPTH) {
        throw IllegalArgumentException("expression nested deeper than " + std::to_string(MAX_NESTING_DEPTH) +
                                       " levels");
    }
    BExpression* exp = parseRaw(ctx, level, optionalToken);
    if (exp == nullptr) {
        return nullptr;
    }
    exp = simplify(ctx, exp);
    if (level == 0) {
        markLookupIdxUsed(exp, ctx);
    }
    return exp;
}

namespace {

// An assignment's target: a variable of the context's own, writable ones.
void parseAssignment(BExpressionContext& ctx, BExpression& exp, int level) {
    if (level > 0) {
        throw IllegalArgumentException("assign operator within expression");
    }
    exp.typ = BExpression::OP_ASSIGN;
    std::optional<std::string> variable = ctx.parseToken();
    if (!variable) {
        throw IllegalArgumentException("unexpected end of file");
    }
    if (variable->find('=') != std::string::npos) {
        throw IllegalArgumentException("variable name cannot contain '=': " + *variable);
    }
    if (variable->find(':') != std::string::npos) {
        throw IllegalArgumentException("cannot assign context-prefixed variable: " + *variable);
    }
    exp.variableIdx = ctx.getVariableIdx(*variable, true);
    if (exp.variableIdx < ctx.getMinWriteIdx()) {
        throw IllegalArgumentException("cannot assign to readonly variable " + *variable);
    }
}

// "name=value1|value2": whether the tag has one of the values (none listed:
// the empty value).
void parseLookupMatch(BExpressionContext& ctx, BExpression& exp, const std::string& name,
                      const std::string& valueList) {
    exp.typ = BExpression::OP_LOOKUP_MATCH;
    exp.lookupNameIdx = ctx.getLookupNameIdx(name);
    if (exp.lookupNameIdx < 0) {
        throw IllegalArgumentException("unknown lookup name: " + name);
    }
    jcompat::StringTokenizer values(valueList, "|");
    const int valueCount = values.countTokens();
    if (valueCount == 0) {
        exp.lookupValueIdxArray.push_back(ctx.getLookupValueIdx(exp.lookupNameIdx, ""));
    }
    for (int i = 0; i < valueCount; ++i) {
        const std::string value = values.nextToken();
        const int valueIdx = ctx.getLookupValueIdx(exp.lookupNameIdx, value);
        if (valueIdx < 0) {
            throw IllegalArgumentException("unknown lookup value: " + value);
        }
        exp.lookupValueIdxArray.push_back(valueIdx);
    }
}

// "v:name" (a tag's value) or "context:variable" (another context's variable).
void parseColonReference(BExpressionContext& ctx, BExpression& exp, const std::string& token, std::size_t colonPos) {
    if (!token.starts_with("v:")) {
        exp.typ = BExpression::OP_FOREIGN_VARIABLE;
        exp.variableIdx = ctx.getForeignVariableIdx(token.substr(0, colonPos), token.substr(colonPos + 1));
        return;
    }
    exp.typ = BExpression::OP_LOOKUP_VALUE;
    const std::string name = token.substr(2);
    exp.lookupNameIdx = ctx.getLookupNameIdx(name);
    // Refused here rather than read at index -1 during evaluation.
    if (exp.lookupNameIdx < 0) {
        throw IllegalArgumentException("unknown lookup name: " + name);
    }
}

float parseNumber(const std::string& token) {
    if (token == "true") {
        return 1.0f;
    }
    if (token == "false") {
        return 0.0f;
    }
    try {
        return static_cast<float>(jcompat::JString::parseDouble(token));
    } catch (const jcompat::NumberFormatException&) {
        throw IllegalArgumentException("unknown expression: " + token);
    }
}

// An expression without operands: a tag match, a tag value, another
// context's variable, a variable or a number.
void parseLeaf(BExpressionContext& ctx, BExpression& exp, const std::string& token) {
    if (const std::size_t equalsPos = token.find('='); equalsPos != std::string::npos) {
        parseLookupMatch(ctx, exp, token.substr(0, equalsPos), token.substr(equalsPos + 1));
    } else if (const std::size_t colonPos = token.find(':'); colonPos != std::string::npos) {
        parseColonReference(ctx, exp, token, colonPos);
    } else if (const int idx = ctx.getVariableIdx(token, false); idx >= 0) {
        exp.typ = BExpression::OP_VARIABLE;
        exp.variableIdx = idx;
    } else {
        exp.typ = BExpression::OP_NUMBER;
        exp.numberValue = parseNumber(token);
    }
}

// Sets the expression's type from its first token, reading what the operator
// itself takes (an assignment's variable); answers how many operands follow.
int parseOperator(BExpressionContext& ctx, BExpression& exp, const std::string& token, int level) {
    if (token == "switch" || token == "if") {
        exp.typ = BExpression::OP_SWITCH;
        return 3;
    }
    for (const BinaryOperator& op : kBinaryOperators) {
        if (token == op.keyword) {
            exp.typ = op.typ;
            return 2;
        }
    }
    if (token == "assign") {
        parseAssignment(ctx, exp, level);
        return 1;
    }
    if (token == "not") {
        exp.typ = BExpression::OP_NOT;
        return 1;
    }
    parseLeaf(ctx, exp, token);
    return 0;
}

} // namespace

// Parsing recurses through here once per level: what a level keeps on the
// stack stays small, the operators are decoded in the helpers above.
BExpression* BExpression::parseRaw(BExpressionContext& ctx, int level, const char* optionalToken) {
    std::optional<std::string> token = ctx.parseToken();
    if (optionalToken != nullptr && token && *token == optionalToken) {
        token = ctx.parseToken();
    }
    const bool brackets = token && *token == "(";
    if (brackets) {
        token = ctx.parseToken();
    }
    if (!token) {
        if (level == 0) {
            return nullptr;
        }
        throw IllegalArgumentException("unexpected end of file");
    }
    if (level == 0 && *token != "assign") {
        throw IllegalArgumentException("operator " + *token + " is invalid on toplevel (only 'assign' allowed)");
    }

    BExpression* exp = ctx.newExpression();
    const int operandCount = parseOperator(ctx, *exp, *token, level);
    if (*token == "if") {
        exp->op1 = parse(ctx, level + 1);
        checkExpectedToken(ctx, "then");
        exp->op2 = parse(ctx, level + 1);
        checkExpectedToken(ctx, "else");
        exp->op3 = parse(ctx, level + 1);
    } else {
        if (operandCount > 0) {
            exp->op1 = parse(ctx, level + 1, exp->typ == OP_ASSIGN ? "=" : nullptr);
        }
        if (operandCount > 1) {
            exp->op2 = parse(ctx, level + 1);
        }
        if (operandCount > 2) {
            exp->op3 = parse(ctx, level + 1);
        }
    }
    if (brackets) {
        checkExpectedToken(ctx, ")");
    }
    return exp;
}

void BExpression::checkExpectedToken(BExpressionContext& ctx, const std::string& expected) {
    std::optional<std::string> token = ctx.parseToken();
    if (!token || *token != expected) {
        throw IllegalArgumentException("unexpected token: " + (token ? *token : std::string("null")) +
                                       ", expected: " + expected);
    }
}

BExpression* BExpression::simplify(BExpressionContext& ctx, BExpression* exp) {
    if (exp->typ == OP_ASSIGN) {
        BExpression*& lastAssigned = ctx.lastAssignedExpression(exp->variableIdx);
        if (lastAssigned != nullptr && lastAssigned->doNotChange) {
            exp->op1 = lastAssigned; // a request override wins over the profile's first value
            lastAssigned->doNotChange = false;
        }
        lastAssigned = exp->op1;
        return exp;
    }
    if (exp->typ == OP_VARIABLE) {
        BExpression* lastAssigned = ctx.lastAssignedExpression(exp->variableIdx);
        return isConstant(lastAssigned) ? lastAssigned : exp;
    }

    BExpression* result = exp;
    switch (exp->typ) {
    case OP_OR:
        if (isConstant(exp->op1)) {
            result = isZero(exp->op1->numberValue) ? exp->op2 : exp->op1;
        } else if (isConstant(exp->op2)) {
            result = isZero(exp->op2->numberValue) ? exp->op1 : exp->op2;
        }
        break;
    case OP_AND:
        if (isConstant(exp->op1)) {
            result = isZero(exp->op1->numberValue) ? exp->op1 : exp->op2;
        } else if (isConstant(exp->op2)) {
            result = isZero(exp->op2->numberValue) ? exp->op2 : exp->op1;
        }
        break;
    case OP_ADD:
        if (isConstant(exp->op1) && isZero(exp->op1->numberValue)) {
            result = exp->op2;
        } else if (isConstant(exp->op2) && isZero(exp->op2->numberValue)) {
            result = exp->op1;
        }
        break;
    case OP_SWITCH:
        if (isConstant(exp->op1)) {
            result = isZero(exp->op1->numberValue) ? exp->op3 : exp->op2;
        }
        break;
    default:
        break;
    }
    return tryFold(ctx, result);
}

BExpression* BExpression::tryFold(BExpressionContext& ctx, BExpression* exp) {
    if (exp->op1 == nullptr || !isConstant(exp->op1) || (exp->op2 != nullptr && !isConstant(exp->op2)) ||
        (exp->op3 != nullptr && !isConstant(exp->op3))) {
        return exp;
    }
    BExpression* folded = ctx.newExpression();
    folded->typ = OP_NUMBER;
    folded->numberValue = exp->evaluate(nullptr);
    return folded;
}

int BExpression::markLookupIdxUsed(const BExpression* e, BExpressionContext& ctx) {
    int count = 1;
    if (e->lookupNameIdx >= 0) {
        ctx.setLookupIdxUsed(e->lookupNameIdx);
    }
    for (const BExpression* operand : {e->op1, e->op2, e->op3}) {
        if (operand != nullptr) {
            count += markLookupIdxUsed(operand, ctx);
        }
    }
    return count;
}

float BExpression::evaluate(BExpressionContext* ctx) const {
    switch (typ) {
    case OP_OR:
        return !isZero(op1->evaluate(ctx)) ? 1.0f : (!isZero(op2->evaluate(ctx)) ? 1.0f : 0.0f);
    case OP_AND:
        return isZero(op1->evaluate(ctx)) ? 0.0f : (isZero(op2->evaluate(ctx)) ? 0.0f : 1.0f);
    case OP_NOT:
        return isZero(op1->evaluate(ctx)) ? 1.0f : 0.0f;
    case OP_SWITCH:
        return !isZero(op1->evaluate(ctx)) ? op2->evaluate(ctx) : op3->evaluate(ctx);
    case OP_NUMBER:
        return numberValue;
    case OP_ASSIGN:
    case OP_LOOKUP_MATCH:
    case OP_VARIABLE:
    case OP_FOREIGN_VARIABLE:
    case OP_LOOKUP_VALUE:
        if (ctx == nullptr) {
            throw jcompat::IllegalStateException("expression needs a context: " + toString());
        }
        break;
    default:
        break;
    }
    switch (typ) {
    case OP_ASSIGN: {
        const float value = op1->evaluate(ctx);
        ctx->variableData_[variableIdx] = value;
        return value;
    }
    case OP_LOOKUP_MATCH: {
        const int valueIdx = ctx->lookupData_[lookupNameIdx];
        for (int candidate : lookupValueIdxArray) {
            if (valueIdx == candidate) {
                return 1.0f;
            }
        }
        return 0.0f;
    }
    case OP_VARIABLE:
        return ctx->variableData_[variableIdx];
    case OP_FOREIGN_VARIABLE:
        return ctx->getForeignVariableValue(variableIdx);
    case OP_LOOKUP_VALUE:
        return ctx->getLookupValue(lookupNameIdx);
    default:
        break;
    }

    // Binary operators: the left operand is evaluated first.
    const float a = op1 != nullptr ? op1->evaluate(ctx) : 0.0f;
    switch (typ) {
    case OP_ADD: {
        const float b = op2->evaluate(ctx);
        return a + b;
    }
    case OP_SUB: {
        const float b = op2->evaluate(ctx);
        return a - b;
    }
    case OP_MULTIPLY: {
        const float b = op2->evaluate(ctx);
        return a * b;
    }
    case OP_DIVIDE: {
        const float b = op2->evaluate(ctx);
        if (b == 0.0f) {
            throw IllegalArgumentException("div by zero");
        }
        return a / b;
    }
    case OP_MAX: {
        const float b = op2->evaluate(ctx);
        return a > b ? a : b;
    }
    case OP_MIN: {
        const float b = op2->evaluate(ctx);
        return a < b ? a : b;
    }
    case OP_EQUAL: {
        const float b = op2->evaluate(ctx);
        return a == b ? 1.0f : 0.0f;
    }
    case OP_GREATER: {
        const float b = op2->evaluate(ctx);
        return a > b ? 1.0f : 0.0f;
    }
    case OP_LESSER: {
        const float b = op2->evaluate(ctx);
        return a < b ? 1.0f : 0.0f;
    }
    case OP_XOR: {
        const float b = op2->evaluate(ctx);
        return isZero(a) != isZero(b) ? 1.0f : 0.0f;
    }
    default:
        throw IllegalArgumentException("unknown op-code: " + std::to_string(typ));
    }
}

std::string BExpression::toString() const {
    switch (typ) {
    case OP_NUMBER:
        return jcompat::floatToString(numberValue);
    case OP_VARIABLE:
        return "var" + std::to_string(variableIdx);
    case OP_FOREIGN_VARIABLE:
        return "foreign" + std::to_string(variableIdx);
    case OP_LOOKUP_VALUE:
        return "v:tag" + std::to_string(lookupNameIdx);
    case OP_LOOKUP_MATCH: {
        std::string text = "tag" + std::to_string(lookupNameIdx) + "=";
        for (std::size_t i = 0; i < lookupValueIdxArray.size(); ++i) {
            if (i > 0) {
                text += '|';
            }
            text += std::to_string(lookupValueIdxArray[i]);
        }
        return text;
    }
    default: {
        std::string text = "op" + std::to_string(typ) + "(";
        bool first = true;
        for (const BExpression* operand : {op1, op2, op3}) {
            if (operand != nullptr) {
                if (!first) {
                    text += ',';
                }
                text += operand->toString();
                first = false;
            }
        }
        text += ')';
        return text;
    }
    }
}

} // namespace ferrow::expressions
