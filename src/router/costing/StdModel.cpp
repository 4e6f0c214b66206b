#include "router/costing/StdModel.h"

namespace ferrow::router {

void StdModel::init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
                    expressions::VariableOverrides* /*keyValues*/) {
    ctxWay = expctxWay;
    ctxNode = expctxNode;
}

OsmPath* StdModel::createPath() {
    StdPath* path = paths_.create();
    path->destinationBits = OsmPath::PATH_START_BIT;
    return path;
}

void StdModel::releasePath(OsmPath* path) { paths_.release(static_cast<StdPath*>(path)); }

} // namespace ferrow::router
