#pragma once

#include <cstdint>

#include "router/costing/OsmPrePath.h"

namespace ferrow::router {

// The kinematic model's look-ahead over another way at a junction: its
// direction relative to the arrival and its class, from which a path sees
// the ways it crosses or passes.
class KinematicPrePath final : public OsmPrePath {
public:
    double angle = 0.0; // degrees, from the arrival direction
    std::int32_t priorityClassifier = 0;
    std::int32_t classifierMask = 0;

protected:
    void initPrePath(OsmPath& origin, RoutingContext& rc) override;
};

} // namespace ferrow::router
