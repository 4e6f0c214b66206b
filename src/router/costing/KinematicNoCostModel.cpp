#include "router/costing/KinematicNoCostModel.h"

namespace ferrow::router {

OsmPath* KinematicNoCostModel::createPath() {
    KinematicNoCostPath* path = noCostPaths_.create();
    path->destinationBits = OsmPath::PATH_START_BIT;
    return path;
}

void KinematicNoCostModel::releasePath(OsmPath* path) { noCostPaths_.release(static_cast<KinematicNoCostPath*>(path)); }

void KinematicNoCostModel::releasePaths() {
    noCostPaths_.reset();
    KinematicModel::releasePaths();
}

} // namespace ferrow::router
