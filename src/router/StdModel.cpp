#include "router/StdModel.h"

namespace ferrow::router {

void StdModel::init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
                    const expressions::VariableOverrides* /*keyValues*/) {
    ctxWay = expctxWay;
    ctxNode = expctxNode;
}

} // namespace ferrow::router
