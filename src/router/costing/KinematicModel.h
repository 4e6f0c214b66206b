#pragma once

#include <string>

#include "router/costing/KinematicPath.h"
#include "router/costing/KinematicPrePath.h"
#include "router/costing/OsmPathModel.h"
#include "util/ByteArray.h"
#include "util/ObjectPool.h"

namespace ferrow::router {

// The cost model that simulates a vehicle: its paths (KinematicPath) drive
// with limited power against rolling, air and slope resistance, brake for
// curves, junctions and speed limits, and price a section by the energy and
// time spent. The vehicle's parameters come from the profile's global
// variables or the request's overrides.
class KinematicModel : public OsmPathModel {
public:
    KinematicModel();
    ~KinematicModel() override;

    // Reads the parameters; the contexts and output slots are taken on the
    // first call only. Every parameter and the values derived from them must
    // be finite, vmax and the energy per metre at vmax above 0.
    void init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
              expressions::VariableOverrides* keyValues) override;

    // The override of key when the request has one, else the profile's global
    // variable (or the default), which is then recorded in the overrides.
    float getParam(const std::string& key, float defaultValue);

    // Speed limits of the way and node just evaluated, in metres per second.
    float getWayMaxspeed() const;
    float getWayMaxspeedExplicit() const;
    float getWayMinspeed() const;
    float getNodeMaxspeed() const;

    // The most economical speed below the speed limit (m/s), cached for the
    // last limit asked for.
    double getEcoSpeed(double speedLimit);

    OsmPath* createPath() override;
    OsmPrePath* createPrePath() override;
    void releasePath(OsmPath* path) override;
    void releasePaths() override;
    void releasePrePaths() override { prePaths_.reset(); }

    // Paths and pre-paths given out and not yet released (for tests).
    virtual std::size_t livePathCount() const noexcept { return paths_.liveCount(); }
    std::size_t livePrePathCount() const noexcept { return prePaths_.liveCount(); }

    // ---- parameters; speeds in metres per second ----
    double turnAngleDecayTime = 0.0; // s
    double f_roll = 0.0;             // N
    double f_air = 0.0;              // N / (m/s)^2
    double f_recup = 0.0;            // N
    double p_standby = 0.0;          // W
    double outside_temp = 0.0;       // degrees C
    double recup_efficiency = 0.0;   // fraction
    double totalweight = 0.0;        // kg
    double vmax = 0.0;
    double leftWaySpeed = 0.0;
    double rightWaySpeed = 0.0;
    // Power driving at vmax takes beyond standby, and the energy per metre at
    // vmax, the unit of the costs.
    double drivePower = 0.0;           // W
    double energyPerMetreAtVmax = 0.0; // J / m

    expressions::BExpressionContextWay* ctxWay = nullptr;
    expressions::BExpressionContextNode* ctxNode = nullptr;
    expressions::VariableOverrides* keyValues = nullptr;

    // Way tags that pre-paths evaluate for a link that has none.
    util::ByteArray noWayTags;

private:
    int wayMaxspeedSlot_ = 0;
    int wayMaxspeedExplicitSlot_ = 0;
    int wayMinspeedSlot_ = 0;
    int nodeMaxspeedSlot_ = 0;
    bool initDone_ = false;

    double ecoSpeedLimit_ = 0.0;
    double ecoSpeed_ = 0.0;

    util::ObjectPool<KinematicPath> paths_;
    util::ObjectPool<KinematicPrePath, 64> prePaths_;
};

} // namespace ferrow::router
