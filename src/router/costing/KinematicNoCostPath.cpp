#include "router/costing/KinematicNoCostPath.h"

#include "router/costing/KinematicNoCostModel.h"

namespace ferrow::router {

const std::type_info& KinematicNoCostPath::modelClass() const { return typeid(KinematicNoCostModel); }

const char* KinematicNoCostPath::modelClassName() const { return "ferrow.router.KinematicNoCostModel"; }

double KinematicNoCostPath::sectionResult(const KinematicModel& model, double physics, double extraTime,
                                          double /*dist*/) const {
    return physics + extraTime * model.drivePower / model.energyPerMetreAtVmax;
}

} // namespace ferrow::router
