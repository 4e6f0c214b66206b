#pragma once

#include "expressions/BExpressionContext.h"

namespace ferrow::expressions {
class BExpressionContextNode;
class BExpressionContextWay;
}

namespace ferrow::router {

// A cost model: chosen per request by RoutingContext::readGlobalConfig from
// the profile's model line, it decides which kind of search path prices the
// links. The contexts belong to the profile the request holds and outlive
// the model's use in that request.
class OsmPathModel {
public:
    virtual ~OsmPathModel() = default;

    // `keyValues` is null when the request overrides no profile variable.
    virtual void init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
                      const expressions::VariableOverrides* keyValues) = 0;
};

} // namespace ferrow::router
