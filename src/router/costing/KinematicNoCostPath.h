#pragma once

#include "router/costing/KinematicPath.h"

namespace ferrow::router {

// The kinematic path priced by energy and time alone, without the profile's
// cost factor.
class KinematicNoCostPath final : public KinematicPath {
protected:
    const std::type_info& modelClass() const override;
    const char* modelClassName() const override;
    double sectionResult(const KinematicModel& model, double physics, double extraTime, double dist) const override;
};

} // namespace ferrow::router
