#pragma once

#include "router/costing/OsmPathModel.h"
#include "router/costing/StdPath.h"
#include "util/ObjectPool.h"

namespace ferrow::router {

// The profile-driven standard cost model: its paths are StdPaths, and it
// makes no junction look-ahead.
class StdModel : public OsmPathModel {
public:
    void init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
              expressions::VariableOverrides* keyValues) override;

    OsmPath* createPath() override;
    void releasePath(OsmPath* path) override;
    void releasePaths() override { paths_.reset(); }

    // Paths given out and not yet released (for tests and measurements).
    std::size_t livePathCount() const noexcept { return paths_.liveCount(); }
    // Bytes held by the path pool: the most paths one search has needed.
    std::size_t pathPoolBytes() const noexcept { return paths_.capacityBytes(); }

    expressions::BExpressionContextWay* ctxWay = nullptr;
    expressions::BExpressionContextNode* ctxNode = nullptr;
    // The costs of the way whose link is being priced.
    StdPath::WayCosts wayCosts{};

private:
    util::ObjectPool<StdPath> paths_;
};

} // namespace ferrow::router
