#pragma once

#include <memory>

#include "router/costing/OsmPathElement.h"
#include "util/CompactLongMap.h"

namespace ferrow::router {

// One link of a chain of track points at one node identifier.
struct OsmPathElementHolder {
    std::shared_ptr<OsmPathElement> element;
    OsmPathElementHolder* next = nullptr;
};

// A track's points by node identifier. The link step asks it of a reference
// track (the links of earlier alternatives), so that pricing needs no track.
using TrackPointMap = util::CompactLongMap<OsmPathElementHolder*>;

} // namespace ferrow::router
