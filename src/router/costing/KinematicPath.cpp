#include "router/costing/KinematicPath.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "router/costing/KinematicModel.h"
#include "router/costing/KinematicPrePath.h"
#include "router/costing/RoutingContext.h"
#include "util/Saturate.h"

namespace ferrow::router {

using jcompat::toInt;

namespace {

constexpr double kGravity = 9.81;
// Classifier-mask bits: a link way, and a way that limits the junction speed.
constexpr std::int32_t kLinkWayBit = 0x08;
constexpr std::int32_t kSlowJunctionBit = 0x20;
// A speed that limits nothing (m/s).
constexpr double kNoSpeedLimit = 999.0;

// Minimum and maximum in which a NaN operand wins.
double nanMin(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<double>::quiet_NaN();
    return a < b ? a : b;
}
double nanMax(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<double>::quiet_NaN();
    return a > b ? a : b;
}

// A speed in m/s as whole km/h for the message.
std::int32_t kmh(double speed) { return toInt(speed * 3.6 + 0.5); }

} // namespace

const std::type_info& KinematicPath::modelClass() const { return typeid(KinematicModel); }

const char* KinematicPath::modelClassName() const { return "ferrow.router.KinematicModel"; }

KinematicModel& KinematicPath::modelOf(RoutingContext& rc) const {
    OsmPathModel* model = rc.pathModel.get();
    if (model == nullptr || typeid(*model) != modelClass()) {
        throw jcompat::ClassCastException(std::string("the routing context's cost model is not a ") + modelClassName());
    }
    return static_cast<KinematicModel&>(*model);
}

void KinematicPath::checkSameClass(const OsmPath& other) const {
    if (typeid(other) != typeid(*this)) {
        throw jcompat::ClassCastException("a path of another cost model than this one's");
    }
}

double KinematicPath::processWaySection(RoutingContext& rc, double dist, double deltaH, double elevation, double angle,
                                        double cosAngle, bool isStartpoint, std::int32_t nsection,
                                        std::int32_t lastPriorityClassifier) {
    KinematicModel& model = modelOf(rc);
    const double mass = model.totalweight;

    double extraTime = 0.0;
    if (isStartpoint) {
        // Turning round at the start takes time, unless routing backwards.
        if (!rc.inverseDirection) extraTime = (1.0 - cosAngle) * 0.5 * 40.0;
    } else {
        double speedLimit = kNoSpeedLimit;
        if (model.turnAngleDecayTime != 0.0) {
            // Curves: the sharper the recent turns, the slower.
            if (angle < 0.0) {
                leftTurnAccumulator = static_cast<float>(leftTurnAccumulator - angle);
            } else {
                rightTurnAccumulator = static_cast<float>(rightTurnAccumulator + angle);
            }
            const double turnSum = nanMax(leftTurnAccumulator, rightTurnAccumulator);
            speedLimit = turnSum > 10.0 ? 200.0 / turnSum : 20.0;
            const double decay = std::exp(-(dist / speedLimit) / model.turnAngleDecayTime);
            leftTurnAccumulator = static_cast<float>(leftTurnAccumulator * decay);
            rightTurnAccumulator = static_cast<float>(rightTurnAccumulator * decay);
            if (speedLimit >= 20.0) speedLimit = kNoSpeedLimit;
        }
        if (nsection == 0) {
            speedLimit = nanMin(speedLimit, junctionSpeed(rc, model, angle, lastPriorityClassifier, extraTime));
        }
        const double energyLimit = 0.5 * mass * speedLimit * speedLimit;
        if (kineticEnergy > energyLimit) kineticEnergy = energyLimit;
    }

    const double physics = simulate(model, dist, deltaH, elevation);

    if (message) {
        message->costFactor = dist > 0.0 ? static_cast<float>(physics / dist) : 0.0f;
        message->wayMaxSpeed = kmh(model.getWayMaxspeed());
        message->explicitMaxSpeed = kmh(model.getWayMaxspeedExplicit());
        message->wayMinSpeed = kmh(model.getWayMinspeed());
        message->extraTimeMillis = toInt(extraTime * 1000.0);
    }
    totalTime += extraTime;

    const double result = sectionResult(model, physics, extraTime, dist);
    // A section the physics cannot price (extreme profile values) is refused
    // rather than passed on as a NaN, which the link step would charge as 0.
    return std::isnan(result) ? -1.0 : result;
}

double KinematicPath::junctionSpeed(RoutingContext& rc, const KinematicModel& model, double angle,
                                    std::int32_t lastPriorityClassifier, double& extraTime) {
    const std::int32_t mask = toInt(model.ctxWay->getClassifierMask()) & 0xff;

    bool wayOnTheLeft = false;
    bool wayOnTheRight = false;
    bool slowJunction = false;
    for (const OsmPrePath* prePath = rc.firstPrePath; prePath != nullptr; prePath = prePath->next) {
        const auto& other = static_cast<const KinematicPrePath&>(*prePath);
        if (((other.classifierMask ^ mask) & kLinkWayBit) != 0) continue;
        if ((other.classifierMask & kSlowJunctionBit) != 0) slowJunction = true;
        if (other.priorityClassifier > priorityClassifier ||
            (other.priorityClassifier == priorityClassifier && priorityClassifier < 20)) {
            const double difference = other.angle - angle;
            if (difference > 40.0 && difference < 140.0) wayOnTheRight = true;
            if (difference > -140.0 && difference < -40.0) wayOnTheLeft = true;
        }
    }

    double speed = kNoSpeedLimit;
    if (wayOnTheLeft && model.leftWaySpeed < kNoSpeedLimit) speed = model.leftWaySpeed;
    if (wayOnTheRight) speed = nanMin(speed, model.rightWaySpeed);

    // Entering or leaving the minor roads means a stop.
    const bool crossing = (lastPriorityClassifier < 20) != (priorityClassifier < 20);
    extraTime = crossing ? 10.0 : 0.0;
    if (lastPriorityClassifier != priorityClassifier && (mask & kLinkWayBit) != 0) extraTime += 2.0;

    double junction = speed;
    if (crossing) {
        junction = 0.0;
    } else if (speed > 13.0 && slowJunction) {
        junction = 13.0;
    }
    if (message) message->junctionSpeed = kmh(junction);
    return junction;
}

double KinematicPath::simulate(KinematicModel& model, double dist, double deltaH, double elevation) {
    const double mass = model.totalweight;

    double speedLimit = model.vmax;
    const double minSpeed = model.getWayMinspeed();
    const double maxSpeed = model.getWayMaxspeed();
    if (speedLimit < minSpeed) speedLimit = minSpeed;
    if (speedLimit > maxSpeed) speedLimit = maxSpeed;
    const double maxEnergy = 0.5 * mass * speedLimit * speedLimit;
    // No speed allowed; a negative or infinite limit from a profile is no
    // speed either.
    if (maxEnergy <= 0.0 || !(speedLimit > 0.0) || !std::isfinite(maxEnergy)) return -1.0;

    const double ecoSpeed = model.getEcoSpeed(speedLimit);
    const double r = model.recup_efficiency;

    double time = 0.0;
    double energy = 0.0;
    if (dist > 0.0 && std::isfinite(dist)) {
        const double slopeForce = mass * kGravity * deltaH / dist;
        // Air is thinner when warm and high up.
        const double air =
            model.f_air * ((20.0 - model.outside_temp) * 0.0035 + 1.0 + (elevation - 100.0) * (-0.0001375));
        const double ecoEnergy = 0.5 * mass * ecoSpeed * ecoSpeed;
        const double airPerMass = 2.0 * air / mass;
        double speed = std::sqrt(2.0 * kineticEnergy / mass);
        double remaining = dist;
        // A vehicle needs one step per 50 m and one per energy it aims at;
        // forces no vehicle meets (extreme parameters) can make steps run
        // backwards, so the steps are bounded.
        const double stepBound = std::floor(dist / 50.0) + 8.0;
        double steps = 0.0;
        // Steps of at most 50 m, or up to the energy aimed at, with series
        // in place of logarithms and exponentials.
        do {
            const bool accelerating = !(kineticEnergy >= maxEnergy);
            double targetEnergy = kineticEnergy < ecoEnergy ? ecoEnergy : maxEnergy;
            double force = slopeForce + air * speed * speed + model.f_roll;
            const double brakeDemand =
                accelerating ? (kineticEnergy < ecoEnergy ? model.f_recup : 0.0) - slopeForce : -force;
            const double brakeForce = nanMax(brakeDemand, 0.0);
            force = force + brakeForce;

            double work;
            double stepTime;
            double stepLength;
            double nextSpeed;
            if (accelerating) {
                const double stepLimit = nanMin(remaining, 50.0);
                work = targetEnergy - kineticEnergy;
                const double q = work / force * airPerMass;
                stepLength = work / force * (1.0 - q * (q * (q * (-0.25) + 0.333333333) + 0.5));
                if (stepLimit <= stepLength) {
                    const double p = stepLimit * airPerMass;
                    work = stepLimit * force * (p * (p * (p * 0.0416666667 + 0.166666667) + 0.5) + 1.0);
                    targetEnergy = kineticEnergy + work;
                    stepLength = stepLimit;
                }
                kineticEnergy = targetEnergy;
                nextSpeed = std::sqrt(2.0 * targetEnergy / mass);
                stepTime = (nextSpeed - speed) / (force / mass);
            } else {
                kineticEnergy = targetEnergy;
                work = remaining * force;
                stepTime = remaining / speed;
                stepLength = remaining;
                nextSpeed = speed;
            }
            const double loss = nanMax(stepTime * model.p_standby, brakeForce * stepLength * (1.0 - r));
            remaining = remaining - stepLength;
            energy = energy + (work - stepLength * (slopeForce + brakeForce * r)) - 0.5 * loss;
            time = time + stepTime;
            speed = nextSpeed;
        } while (remaining > 0.0 && ++steps < stepBound);
    }

    energy = energy + time * model.p_standby;
    totalTime += time;
    totalEnergy += energy + mass * kGravity * deltaH;
    return (energy + time * model.drivePower) / model.energyPerMetreAtVmax;
}

double KinematicPath::sectionResult(const KinematicModel& model, double physics, double extraTime, double dist) const {
    const double costFactor = model.ctxWay->getCostfactor();
    return physics + dist * costFactor + 0.5 + extraTime * model.drivePower / model.energyPerMetreAtVmax;
}

double KinematicPath::processTargetNode(RoutingContext& rc) {
    if (targetNode->nodeTags.isNull()) return 0.0;
    KinematicModel& model = modelOf(rc);
    expressions::BExpressionContextNode& node = *model.ctxNode;
    node.evaluate(false, targetNode->nodeTags);
    const float initialCost = node.getInitialcost();
    if (initialCost >= 1000000.0f) return -1.0;

    const double nodeMaxSpeed = model.getNodeMaxspeed();
    const double energyLimit = 0.5 * model.totalweight * nodeMaxSpeed * nodeMaxSpeed;
    if (kineticEnergy > energyLimit) kineticEnergy = energyLimit;
    if (message) {
        const std::int64_t nodeCost = std::int64_t{message->nodeCost} + toInt(initialCost);
        message->nodeCost = util::saturateToInt32(nodeCost);
        message->nodeTags = node.getKeyValueDescription(false, targetNode->nodeTags);
        message->nodeMaxSpeed = kmh(nodeMaxSpeed);
    }
    return initialCost;
}

bool KinematicPath::definitlyWorseThan(const OsmPath& other) const {
    checkSameClass(other);
    return std::int64_t{other.cost} + 100 < cost;
}

void KinematicPath::init(const OsmPath& origin) {
    checkSameClass(origin);
    const auto& from = static_cast<const KinematicPath&>(origin);
    kineticEnergy = from.kineticEnergy;
    totalTime = from.totalTime;
    totalEnergy = from.totalEnergy;
    leftTurnAccumulator = from.leftTurnAccumulator;
    rightTurnAccumulator = from.rightTurnAccumulator;
}

void KinematicPath::resetState() {
    kineticEnergy = 0.0;
    totalTime = 0.0;
    totalEnergy = 0.0;
    leftTurnAccumulator = 0.0f;
    rightTurnAccumulator = 0.0f;
}

} // namespace ferrow::router
