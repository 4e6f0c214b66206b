#pragma once

#include <cstdint>

#include "router/costing/OsmPath.h"

namespace ferrow::expressions {
class BExpressionContextWay;
}

namespace ferrow::router {

// The search path of the standard cost model: way sections priced from the
// profile's cost factors, turn and crossing costs, and two elevation
// hysteresis buffers that turn accumulated climbs and descents into cost; in
// detail mode also a simple estimate of time and energy.
class StdPath final : public OsmPath {
public:
    using OsmPath::init;

    // Micrometres of descent and climb not yet priced.
    std::int32_t downhillBuffer = 0;
    std::int32_t uphillBuffer = 0;
    float totalTime = 0.0f;       // seconds, detail mode only
    float totalEnergy = 0.0f;     // joules, detail mode only
    float elevationBuffer = 0.0f; // metres of climb carried over for the time estimate
    // 1000000 / "downhillcost" and / "uphillcost" of the current way; below 1: no such cost.
    std::int32_t downhillDivisor = 0;
    std::int32_t uphillDivisor = 0;

    void computeKinematic(RoutingContext& rc, double dist, double deltaH, bool detailMode) override;
    bool definitlyWorseThan(const OsmPath& other) const override;
    std::int32_t elevationCorrection() const override;
    double getTotalEnergy() const override { return totalEnergy; }
    double getTotalTime() const override { return totalTime; }
    void init(const OsmPath& origin) override;
    double processTargetNode(RoutingContext& rc) override;
    double processWaySection(RoutingContext& rc, double dist, double deltaH, double elevation, double angle,
                             double cosAngle, bool isStartpoint, std::int32_t nsection,
                             std::int32_t lastPriorityClassifier) override;
    void resetState() override;

    // The outputs of the way being priced that the sections need, read and
    // derived once per link rather than once per section.
    struct WayCosts {
        float costFactor;
        float upCostFactor;
        float downCostFactor;
        float turncost;
        float downhillCutoff;   // x 10000
        float uphillCutoff;     // x 10000
        float downhillMaxSlope; // x 10000
        float uphillMaxSlope;   // x 10000
        std::int32_t downhillDivisor;
        std::int32_t uphillDivisor;
        std::int32_t downSlopeDivisor;
        std::int32_t upSlopeDivisor;

        void read(const expressions::BExpressionContextWay& way);
    };

private:
    std::int32_t pendingDownhillCost() const { return downhillDivisor > 0 ? downhillBuffer / downhillDivisor : 0; }
    std::int32_t pendingUphillCost() const { return uphillDivisor > 0 ? uphillBuffer / uphillDivisor : 0; }
};

} // namespace ferrow::router
