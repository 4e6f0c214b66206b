#include "expressions/BExpressionContextNode.h"

#include <array>

namespace ferrow::expressions {

namespace {

const std::array<std::string, 1> kNodeVariableNames = {"initialcost"};

} // namespace

std::span<const std::string> BExpressionContextNode::getBuildInVariableNames() const { return kNodeVariableNames; }

} // namespace ferrow::expressions
