#pragma once

#include "router/costing/KinematicModel.h"
#include "router/costing/KinematicNoCostPath.h"

namespace ferrow::router {

// The kinematic model whose paths (KinematicNoCostPath) price energy and time
// alone, without the profile's cost factor. Its paths come from a pool of
// their own; the base's path pool stays empty.
class KinematicNoCostModel final : public KinematicModel {
public:
    OsmPath* createPath() override;
    void releasePath(OsmPath* path) override;
    void releasePaths() override;

    std::size_t livePathCount() const noexcept override { return noCostPaths_.liveCount(); }

private:
    util::ObjectPool<KinematicNoCostPath> noCostPaths_;
};

} // namespace ferrow::router
