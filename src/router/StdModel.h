#pragma once

#include "router/OsmPathModel.h"

namespace ferrow::router {

// The profile-driven standard cost model.
class StdModel : public OsmPathModel {
public:
    void init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
              const expressions::VariableOverrides* keyValues) override;

    expressions::BExpressionContextWay* ctxWay = nullptr;
    expressions::BExpressionContextNode* ctxNode = nullptr;
};

} // namespace ferrow::router
