#pragma once

#include <typeinfo>

#include "router/costing/OsmPath.h"

namespace ferrow::router {

class KinematicModel;

// The search path of the kinematic cost model: it drives a simulated vehicle
// along the way, braking for curves, junctions, speed limits and nodes, and
// prices each section by the energy and time spent, in metres of driving at
// the model's maximum speed, plus the profile's cost factor times the length.
class KinematicPath : public OsmPath {
public:
    using OsmPath::init;

    double kineticEnergy = 0.0; // joules
    double totalTime = 0.0;     // seconds
    double totalEnergy = 0.0;   // joules
    // Turn angles in degrees, summed and decaying with the time driven.
    float leftTurnAccumulator = 0.0f;
    float rightTurnAccumulator = 0.0f;

    bool definitlyWorseThan(const OsmPath& other) const override;
    std::int32_t elevationCorrection() const override { return 0; }
    double getTotalEnergy() const override { return totalEnergy; }
    double getTotalTime() const override { return totalTime; }
    void init(const OsmPath& origin) override;
    double processTargetNode(RoutingContext& rc) override;
    double processWaySection(RoutingContext& rc, double dist, double deltaH, double elevation, double angle,
                             double cosAngle, bool isStartpoint, std::int32_t nsection,
                             std::int32_t lastPriorityClassifier) override;
    void resetState() override;

protected:
    // The class of the cost model this path reads its parameters from.
    virtual const std::type_info& modelClass() const;
    virtual const char* modelClassName() const;
    // The section cost from the physics part, the section's extra time and
    // its length; this variant adds the profile's cost factor.
    virtual double sectionResult(const KinematicModel& model, double physics, double extraTime, double dist) const;

private:
    // The routing context's cost model, which must be of modelClass.
    KinematicModel& modelOf(RoutingContext& rc) const;
    // Fails unless other is of this path's own class.
    void checkSameClass(const OsmPath& other) const;
    // Extra time and speed limit at the junction where the link starts.
    double junctionSpeed(RoutingContext& rc, const KinematicModel& model, double angle,
                         std::int32_t lastPriorityClassifier, double& extraTime);
    // Energy and time of driving the section, added to the totals; the
    // physics part of the cost, or -1 when the section allows no speed.
    double simulate(KinematicModel& model, double dist, double deltaH, double elevation);
};

} // namespace ferrow::router
