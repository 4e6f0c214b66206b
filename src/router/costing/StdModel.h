#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

    // The costs of the way just evaluated. They are kept by the identity of
    // the outputs they were read from (a direct-mapped table) and read again
    // only for outputs not kept: the ways of a region have few distinct
    // outputs, which equal tag sets and equal output vectors share.
    const StdPath::WayCosts& wayCostsOf(const expressions::BExpressionContextWay& way) {
        const expressions::BExpressionContext::OutputsIdentity outputs = way.outputsIdentity();
        KeptWayCosts& kept = keptWayCosts_[keptSlot(outputs.outputs)];
        if (outputs.outputs == nullptr || outputs != kept.outputs) {
            kept.costs.read(way);
            kept.outputs = outputs;
        }
        last_ = &kept.costs;
        return kept.costs;
    }
    // The costs returned last.
    const StdPath::WayCosts& lastWayCosts() const noexcept { return *last_; }

private:
    struct KeptWayCosts {
        expressions::BExpressionContext::OutputsIdentity outputs;
        StdPath::WayCosts costs{};
    };
    static constexpr int KEPT_WAY_COSTS_BITS = 7;

    static std::size_t keptSlot(const float* outputs) noexcept {
        const auto address = reinterpret_cast<std::uintptr_t>(outputs);
        return static_cast<std::size_t>((std::uint64_t{address >> 4} * 0x9E3779B97F4A7C15ULL) >>
                                        (64 - KEPT_WAY_COSTS_BITS));
    }

    util::ObjectPool<StdPath> paths_;
    std::array<KeptWayCosts, std::size_t{1} << KEPT_WAY_COSTS_BITS> keptWayCosts_{};
    const StdPath::WayCosts* last_ = &keptWayCosts_[0].costs;
};

} // namespace ferrow::router
