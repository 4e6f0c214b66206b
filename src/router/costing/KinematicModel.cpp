#include "router/costing/KinematicModel.h"

#include <array>
#include <cmath>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"

namespace ferrow::router {

namespace {

constexpr std::array<util::Byte, 3> kNoWayTags{0x00, 0x01, 0x00};

void requireFinite(const char* name, double value) {
    if (!std::isfinite(value)) {
        throw jcompat::IllegalArgumentException(std::string("kinematic model: ") + name +
                                                " is not a finite number: " + jcompat::doubleToString(value));
    }
}

} // namespace

KinematicModel::KinematicModel() : OsmPathModel(true), noWayTags(util::ByteArray::copyOf(kNoWayTags)) {}

KinematicModel::~KinematicModel() = default;

void KinematicModel::init(expressions::BExpressionContextWay* expctxWay,
                          expressions::BExpressionContextNode* expctxNode, expressions::VariableOverrides* overrides) {
    if (!initDone_) {
        ctxWay = expctxWay;
        ctxNode = expctxNode;
        wayMaxspeedSlot_ = ctxWay->getOutputVariableIndex("maxspeed", false);
        wayMaxspeedExplicitSlot_ = ctxWay->getOutputVariableIndex("maxspeed_explicit", false);
        wayMinspeedSlot_ = ctxWay->getOutputVariableIndex("minspeed", false);
        nodeMaxspeedSlot_ = ctxNode->getOutputVariableIndex("maxspeed", false);
        initDone_ = true;
    }
    keyValues = overrides;

    // Read in this order, so that the overrides list them in it.
    const auto param = [this](const char* key, float defaultValue) {
        const double value = getParam(key, defaultValue);
        requireFinite(key, value);
        return value;
    };
    turnAngleDecayTime = param("turnAngleDecayTime", 5.0f);
    f_roll = param("f_roll", 232.0f);
    f_air = param("f_air", 0.4f);
    f_recup = param("f_recup", 400.0f);
    p_standby = param("p_standby", 250.0f);
    outside_temp = param("outside_temp", 20.0f);
    recup_efficiency = param("recup_efficiency", 0.7f);
    totalweight = param("totalweight", 1640.0f);
    const double vmaxKmh = param("vmax", 80.0f);
    vmax = vmaxKmh / 3.6;
    leftWaySpeed = param("leftWaySpeed", 12.0f) / 3.6;
    rightWaySpeed = param("rightWaySpeed", 12.0f) / 3.6;

    // vmax divides here and the energy per metre divides every cost.
    if (!(vmax > 0.0)) {
        throw jcompat::IllegalArgumentException("kinematic model: vmax must be above 0, not " +
                                                jcompat::doubleToString(vmaxKmh));
    }
    drivePower = 2.0 * f_air * vmax * vmax * vmax - p_standby;
    energyPerMetreAtVmax = (drivePower + p_standby) / vmax + f_roll + f_air * vmax * vmax;
    if (!(energyPerMetreAtVmax > 0.0) || !std::isfinite(energyPerMetreAtVmax)) {
        throw jcompat::IllegalArgumentException(
            "kinematic model: the energy per metre at vmax must be a finite number above 0, not " +
            jcompat::doubleToString(energyPerMetreAtVmax));
    }
}

float KinematicModel::getParam(const std::string& key, float defaultValue) {
    if (keyValues != nullptr) {
        if (const std::string* text = keyValues->get(key)) {
            return static_cast<float>(jcompat::JString::parseDouble(*text));
        }
    }
    const float value = ctxWay->getVariableValue(key, defaultValue);
    if (keyValues != nullptr) keyValues->put(key, jcompat::floatToString(value));
    return value;
}

float KinematicModel::getWayMaxspeed() const { return ctxWay->getOutput(wayMaxspeedSlot_) / 3.6f; }

float KinematicModel::getWayMaxspeedExplicit() const { return ctxWay->getOutput(wayMaxspeedExplicitSlot_) / 3.6f; }

float KinematicModel::getWayMinspeed() const { return ctxWay->getOutput(wayMinspeedSlot_) / 3.6f; }

float KinematicModel::getNodeMaxspeed() const { return ctxNode->getOutput(nodeMaxspeedSlot_) / 3.6f; }

double KinematicModel::getEcoSpeed(double speedLimit) {
    if (speedLimit == ecoSpeedLimit_) return ecoSpeed_;
    // The speed where the drive power saved by going slower balances the
    // recuperable share of the air resistance: Newton steps from 0.8 x limit.
    const double r = recup_efficiency;
    const double power = drivePower + p_standby;
    const double target = (1.0 - r) * f_roll + power / speedLimit + r * f_air * speedLimit * speedLimit;
    double v = 0.8 * speedLimit;
    for (int step = 0; step < 5; ++step) {
        v = v - (power / v + r * f_air * v * v - target) / (2.0 * r * f_air * v - power / (v * v));
    }
    ecoSpeedLimit_ = speedLimit;
    ecoSpeed_ = v;
    return v;
}

OsmPath* KinematicModel::createPath() {
    KinematicPath* path = paths_.create();
    path->destinationBits = OsmPath::PATH_START_BIT;
    return path;
}

OsmPrePath* KinematicModel::createPrePath() { return prePaths_.create(); }

void KinematicModel::releasePath(OsmPath* path) { paths_.release(static_cast<KinematicPath*>(path)); }

void KinematicModel::releasePaths() {
    paths_.reset();
    prePaths_.reset();
}

} // namespace ferrow::router
