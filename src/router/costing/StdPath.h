#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "expressions/BExpressionContextWay.h"
#include "jcompat/NumberText.h"
#include "router/costing/OsmPath.h"
#include "router/costing/RoutingContext.h"
#include "util/Saturate.h"

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
        LinkOutputs link;
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
        // "turncost" is neither 0 nor NaN: a turn may cost something.
        bool turns;

        void read(const expressions::BExpressionContextWay& way);
    };

    StdPath() noexcept { pricedAsStdPath_ = true; }

    // processWaySection with the costs of the way read by the caller: the
    // link step's own entry, inline, as it runs for every section priced.
    // The length d is in whole metres, as the link step measures it, the
    // climb dh in micrometres.
    double priceSection(const RoutingContext& rc, const WayCosts& costs, std::int32_t d, std::int32_t dh, double angle,
                        double cosAngle, std::int32_t nsection, std::int32_t lastPriorityClassifier);
    // Whether priceSection reads its angle and cosine: a turn or crossing
    // cost may depend on them, or the message records the angle.
    bool readsTurnAngle(const RoutingContext& rc, const WayCosts& costs) const noexcept {
        return costs.turns || readsAngleItself(rc);
    }
    // Whether it reads the angle beyond its cosine (a turn cost reads the cosine only).
    bool readsAngleItself(const RoutingContext& rc) const noexcept {
        return message || (rc.validForBikes && rc.considerCrossing);
    }

private:
    // The cost and the weight of the section on the slope's cost factor of
    // one elevation buffer's excess over the penalty buffer, which the
    // section's length works off; the buffer is reduced accordingly.
    struct BufferPrice {
        float weight = 0.0f;
        float cost = 0.0f;
    };
    static BufferPrice priceBuffer(std::int32_t& buffer, const RoutingContext& rc, std::int32_t d, float fd,
                                   float maxSlope, std::int32_t divisor, std::int32_t slopeDivisor);
    // priceBuffer's reduction of a buffer over the penalty buffer, with any
    // context values: every step saturates.
    static std::int32_t reduceBuffer(std::int32_t& buffer, const RoutingContext& rc, std::int32_t d, float& weight);
    // The cost of crossing a bigger road at the junction the link starts from, on a bike.
    std::int32_t crossingCost(const RoutingContext& rc, double angle) const;

    std::int32_t pendingDownhillCost() const { return downhillDivisor > 0 ? downhillBuffer / downhillDivisor : 0; }
    std::int32_t pendingUphillCost() const { return uphillDivisor > 0 ? uphillBuffer / uphillDivisor : 0; }
};

namespace stdcost {

// Minimum and maximum as the cost formulas define them: a NaN operand gives
// NaN, and -0.0 counts below 0.0.
template <typename Float>
Float minOf(Float a, Float b) {
    if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<Float>::quiet_NaN();
    if (a == b) return std::signbit(a) ? a : b;
    return a < b ? a : b;
}
template <typename Float>
Float maxOf(Float a, Float b) {
    if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<Float>::quiet_NaN();
    if (a == b) return std::signbit(a) ? b : a;
    return a > b ? a : b;
}

} // namespace stdcost

inline StdPath::BufferPrice StdPath::priceBuffer(std::int32_t& buffer, const RoutingContext& rc, std::int32_t d,
                                                 float fd, float maxSlope, std::int32_t divisor,
                                                 std::int32_t slopeDivisor) {
    BufferPrice price;
    if (buffer > rc.elevationpenaltybuffer) {
        std::int32_t reduce;
        if ((rc.elevationpenaltybuffer | rc.elevationmaxbuffer | rc.elevationbufferreduce | d) >= 0) [[likely]] {
            // All four non-negative: the reduction lies between 0 and the
            // buffer, and only the product can leave the 32-bit range.
            const std::int32_t excess = buffer - rc.elevationpenaltybuffer;
            const std::int64_t wanted = std::int64_t{rc.elevationbufferreduce} * d;
            if (excess < wanted) {
                price.weight = static_cast<float>(excess) / static_cast<float>(util::saturateToInt32(wanted));
                reduce = excess;
            } else {
                price.weight = 1.0f;
                reduce = static_cast<std::int32_t>(wanted);
            }
            const std::int32_t overMax = buffer - rc.elevationmaxbuffer;
            if (overMax > reduce) reduce = overMax;
            buffer -= reduce;
        } else {
            reduce = reduceBuffer(buffer, rc, d, price.weight);
        }
        // A NaN slope gives NaN, as the formulas' minimum and maximum do.
        const float reduced = static_cast<float>(reduce);
        const float slopePart = maxSlope * fd; // the slope already x 10000
        if (divisor >= 1) {
            price.cost = (reduced < slopePart ? reduced : slopePart) / static_cast<float>(divisor);
        }
        if (slopeDivisor >= 1) {
            const float beyond = reduced - slopePart;
            price.cost += (beyond <= 0.0f ? 0.0f : beyond) / static_cast<float>(slopeDivisor);
        }
    } else {
        buffer = std::max(buffer, 0); // a select: the sign of a short climb is hard to predict
    }
    return price;
}

inline double StdPath::priceSection(const RoutingContext& rc, const WayCosts& costs, std::int32_t d, std::int32_t dh,
                                    double angle, double cosAngle, std::int32_t nsection,
                                    std::int32_t lastPriorityClassifier) {
    using jcompat::toInt;
    const float costFactor = costs.costFactor;
    const float upCostFactor = costs.upCostFactor;
    const float downCostFactor = costs.downCostFactor;
    downhillDivisor = costs.downhillDivisor;
    uphillDivisor = costs.uphillDivisor;

    // 0 (or NaN) times any cosine, + 0.2, is 0 as an integer.
    std::int32_t turn = costs.turns ? toInt((1.0 - cosAngle) * costs.turncost + 0.2) : 0;

    // Crossing a bigger road coming from it, on a bike.
    if (rc.validForBikes && rc.considerCrossing && lastPriorityClassifier > 0 && nsection == 0 &&
        lastPriorityClassifier >= rc.crossingPrioH) [[unlikely]] {
        turn = util::saturateToInt32(std::int64_t{turn} + crossingCost(rc, angle));
    }

    if (message) {
        message->turnCost = util::saturateToInt32(std::int64_t{message->turnCost} + turn);
        message->turnAngle = static_cast<float>(angle);
    }

    // The hysteresis buffers collect climbs and descents less what the
    // cut-off slope allows over the section's length.
    const float fd = static_cast<float>(d);
    downhillBuffer = toInt(static_cast<float>(jcompat::wrapNeg(dh)) - costs.downhillCutoff * fd +
                           static_cast<float>(downhillBuffer));
    uphillBuffer = toInt(static_cast<float>(dh) - costs.uphillCutoff * fd + static_cast<float>(uphillBuffer));

    double sectionCost = turn;
    const BufferPrice down =
        priceBuffer(downhillBuffer, rc, d, fd, costs.downhillMaxSlope, downhillDivisor, costs.downSlopeDivisor);
    if (down.cost > 0.0f) {
        sectionCost += down.cost;
        if (message) message->elevationCost = toInt(down.cost + static_cast<float>(message->elevationCost));
    }
    const BufferPrice up =
        priceBuffer(uphillBuffer, rc, d, fd, costs.uphillMaxSlope, uphillDivisor, costs.upSlopeDivisor);
    if (up.cost > 0.0f) {
        sectionCost += up.cost;
        if (message) message->elevationCost = toInt(up.cost + static_cast<float>(message->elevationCost));
    }

    const float effectiveCostFactor =
        downCostFactor * down.weight + (upCostFactor * up.weight + costFactor * ((1.0f - up.weight) - down.weight));
    if (message) message->costFactor = effectiveCostFactor;
    sectionCost += effectiveCostFactor * fd + 0.5f;
    return sectionCost;
}

} // namespace ferrow::router
