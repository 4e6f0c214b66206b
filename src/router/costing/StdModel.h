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

    // The costs of the way just evaluated, read again only when its outputs
    // differ from those of the way read last (links of equal outputs follow
    // each other often).
    const StdPath::WayCosts& wayCostsOf(const expressions::BExpressionContextWay& way) {
        const expressions::BExpressionContext::OutputsIdentity outputs = way.outputsIdentity();
        if (outputs.outputs == nullptr || outputs != wayCostsOutputs_) {
            wayCosts_.read(way);
            wayCostsOutputs_ = outputs;
        }
        return wayCosts_;
    }
    const StdPath::WayCosts& lastWayCosts() const noexcept { return wayCosts_; }

private:
    util::ObjectPool<StdPath> paths_;
    StdPath::WayCosts wayCosts_{};
    expressions::BExpressionContext::OutputsIdentity wayCostsOutputs_;
};

} // namespace ferrow::router
