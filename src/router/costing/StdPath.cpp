#include "router/costing/StdPath.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "jcompat/NumberText.h"
#include "router/costing/RoutingContext.h"
#include "router/costing/StdModel.h"
#include "util/Saturate.h"

namespace ferrow::router {

using jcompat::toInt;

namespace {

// 1000000 / the output as an integer when that is at least 1, else the integer itself.
std::int32_t costDivisor(float output) {
    const std::int32_t value = toInt(output);
    return value >= 1 ? 1000000 / value : value;
}

} // namespace

void StdPath::WayCosts::read(const expressions::BExpressionContextWay& way) {
    using Way = expressions::BExpressionContextWay;
    const std::span<const float> out = way.getOutputs();
    if (out.size() <= Way::DOWNHILLMAXSLOPECOST) (void)way.getOutput(Way::DOWNHILLMAXSLOPECOST); // fails
    link.read(out);
    costFactor = out[Way::COSTFACTOR];
    upCostFactor = out[Way::UPHILLCOSTFACTOR];
    downCostFactor = out[Way::DOWNHILLCOSTFACTOR];
    if (upCostFactor == 0.0f) upCostFactor = costFactor;
    if (downCostFactor == 0.0f) downCostFactor = costFactor;
    turncost = out[Way::TURNCOST];
    turns = turncost != 0.0f && !std::isnan(turncost);
    downhillCutoff = out[Way::DOWNHILLCUTOFF] * 10000.0f;
    uphillCutoff = out[Way::UPHILLCUTOFF] * 10000.0f;
    downhillMaxSlope = out[Way::DOWNHILLMAXSLOPE] * 10000.0f;
    uphillMaxSlope = out[Way::UPHILLMAXSLOPE] * 10000.0f;

    downhillDivisor = costDivisor(out[Way::DOWNHILLCOST]);
    uphillDivisor = costDivisor(out[Way::UPHILLCOST]);
    const std::int32_t downSlopeValue = toInt(out[Way::DOWNHILLMAXSLOPECOST]);
    const std::int32_t upSlopeValue = toInt(out[Way::UPHILLMAXSLOPECOST]);
    downSlopeDivisor = downSlopeValue >= 1 ? 1000000 / downSlopeValue : downhillDivisor;
    upSlopeDivisor = upSlopeValue >= 1 ? 1000000 / upSlopeValue : uphillDivisor;
}

double StdPath::processWaySection(RoutingContext& rc, double dist, double deltaH, double /*elevation*/, double angle,
                                  double cosAngle, bool /*isStartpoint*/, std::int32_t nsection,
                                  std::int32_t lastPriorityClassifier) {
    // The way's outputs stay the same over the sections of one link.
    StdModel& model = static_cast<StdModel&>(*rc.pathModel);
    const WayCosts& costs = nsection == 0 ? model.wayCostsOf(*rc.expctxWay) : model.lastWayCosts();
    return priceSection(rc, costs, toInt(dist), toInt(deltaH * 1000000.0), angle, cosAngle, nsection,
                        lastPriorityClassifier);
}

std::int32_t StdPath::reduceBuffer(std::int32_t& buffer, const RoutingContext& rc, std::int32_t d, float& weight) {
    const std::int32_t excess = util::saturateToInt32(std::int64_t{buffer} - rc.elevationpenaltybuffer);
    std::int32_t reduce = util::saturateToInt32(std::int64_t{rc.elevationbufferreduce} * d);
    if (excess < reduce) {
        weight = static_cast<float>(excess) / static_cast<float>(reduce);
        reduce = excess;
    } else {
        weight = 1.0f;
    }
    const std::int32_t overMax = util::saturateToInt32(std::int64_t{buffer} - rc.elevationmaxbuffer);
    if (overMax > reduce) reduce = overMax;
    buffer = util::saturateToInt32(std::int64_t{buffer} - reduce);
    return reduce;
}

std::int32_t StdPath::crossingCost(const RoutingContext& rc, double angle) const {
    // The node's estimated crossing class prices the turn onto a small road.
    const expressions::BExpressionContextWay& way = *rc.expctxWay;
    if (!(way.getPriorityClassifier() <= static_cast<float>(rc.crossingPrioL)) || sourceNode->nodeTags.isNull()) {
        return 0;
    }
    const std::string description =
        rc.expctxNode->getKeyValueDescription(way.getNodeAccessGranted() != 0.0f, sourceNode->nodeTags);
    static constexpr std::string_view kCrossingClass = "estimated_crossing_class=";
    const std::size_t at = description.find(kCrossingClass);
    if (at == std::string::npos || at + kCrossingClass.size() >= description.size()) return 0;
    const char crossingClass = description[at + kCrossingClass.size()];
    if (crossingClass < '1' || crossingClass > '6') return 0;
    const auto index = static_cast<std::size_t>(crossingClass - '1');
    if (angle < 0.0) return rc.costToLeftFromHClass[index];
    if (angle > 0.0) return rc.costToRightFromHClass[index];
    return 0;
}

double StdPath::processTargetNode(RoutingContext& rc) {
    if (targetNode->nodeTags.isNull()) return 0.0;
    const bool nodeAccessGranted = rc.expctxWay->getNodeAccessGranted() != 0.0f;
    expressions::BExpressionContextNode& node = *rc.expctxNode;
    node.evaluate(nodeAccessGranted, targetNode->nodeTags);
    const float initialCost = node.getOutput(expressions::BExpressionContextNode::INITIALCOST);
    if (initialCost >= 1000000.0f) return -1.0;
    if (message) {
        message->nodeCost = util::saturateToInt32(std::int64_t{message->nodeCost} + toInt(initialCost));
        message->nodeTags = node.getKeyValueDescription(nodeAccessGranted, targetNode->nodeTags);
    }
    return initialCost;
}

std::int32_t StdPath::elevationCorrection() const {
    return util::saturateToInt32(std::int64_t{pendingDownhillCost()} + pendingUphillCost());
}

bool StdPath::definitlyWorseThan(const OsmPath& other) const {
    const auto& p = static_cast<const StdPath&>(other);
    std::int64_t c = p.cost;
    if (p.downhillDivisor > 0) {
        const std::int64_t delta = std::int64_t{p.pendingDownhillCost()} - pendingDownhillCost();
        if (delta > 0) c += delta;
    }
    if (p.uphillDivisor > 0) {
        const std::int64_t delta = std::int64_t{p.pendingUphillCost()} - pendingUphillCost();
        if (delta > 0) c += delta;
    }
    return c < cost;
}

void StdPath::computeKinematic(RoutingContext& rc, double dist, double deltaH, bool detailMode) {
    if (!detailMode) return;

    // Climb carried between sections, decaying over 100 m, with a 3 m dead band.
    const float climb = static_cast<float>(elevationBuffer + deltaH);
    const double reduce = std::exp(-dist / 100.0);
    const double shift = climb > 3.0f ? -3.0 : climb < -3.0f ? 3.0 : 0.0;
    elevationBuffer = static_cast<float>(reduce * (shift + climb) - shift);
    const double incline = static_cast<float>(climb - elevationBuffer) / dist;

    const double rollingForce = rc.totalMass * 9.81 * (incline + rc.C_r);

    double speed;
    if (rc.validForFoot) {
        speed = rc.maxSpeed * std::exp(-3.5 * std::fabs(incline + 0.05));
    } else {
        const float wayMaxSpeed = rc.expctxWay->getMaxspeed() / 3.6f;
        const double vMax =
            wayMaxSpeed > 0.0f ? stdcost::minOf(static_cast<double>(wayMaxSpeed), rc.maxSpeed) : rc.maxSpeed;
        if (rc.validForBikes) {
            // The speed at which the rider's power balances air and rolling
            // resistance, by Newton steps; doubled while still too slow to matter.
            double v = 8.0;
            bool stillDoubling = true;
            for (int step = 0; step < 10; ++step) {
                const double y = (rc.S_C_x * v * v + rollingForce) * v - rc.bikerPower;
                if (y < 0.1) {
                    if (!stillDoubling) break;
                    v *= 2.0;
                    continue;
                }
                stillDoubling = false;
                v -= y / (3.0 * rc.S_C_x * v * v + rollingForce);
            }
            speed = stdcost::minOf(v, vMax);
        } else {
            speed = vMax;
        }
    }
    totalTime = static_cast<float>(totalTime + dist / speed);
    const double work = dist * (rollingForce + rc.S_C_x * speed * speed);
    if (work > 0.0) totalEnergy = static_cast<float>(totalEnergy + work);
}

void StdPath::init(const OsmPath& origin) {
    const auto& from = static_cast<const StdPath&>(origin);
    downhillBuffer = from.downhillBuffer;
    uphillBuffer = from.uphillBuffer;
    totalTime = from.totalTime;
    totalEnergy = from.totalEnergy;
    elevationBuffer = from.elevationBuffer;
}

void StdPath::resetState() {
    downhillBuffer = 0;
    uphillBuffer = 0;
    totalTime = 0.0f;
    totalEnergy = 0.0f;
    elevationBuffer = 0.0f;
    downhillDivisor = 0;
    uphillDivisor = 0;
}

} // namespace ferrow::router
