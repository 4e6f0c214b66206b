#pragma once

#include "expressions/BExpressionContext.h"

namespace ferrow::expressions {

// The node section of a profile; it has no evaluation cache.
class BExpressionContextNode final : public BExpressionContext {
public:
    static constexpr int INITIALCOST = 0;

    BExpressionContextNode(int hashSize, BExpressionMetaData& meta) : BExpressionContext("node", hashSize, meta) {}

    std::span<const std::string> getBuildInVariableNames() const override;

    float getInitialcost() const { return getOutput(INITIALCOST); }
};

} // namespace ferrow::expressions
