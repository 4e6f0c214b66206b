#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "router/track/OsmTrack.h"

namespace ferrow::service {

// The one-line GeoJSON answer for a found track.
struct RouteGeoJson {
    static std::string format(const router::OsmTrack& track);

    // The time of the last point less that of the first, rounded to seconds.
    static std::int32_t totalTime(const router::OsmTrack& track);

    // The message table rows after the header: consecutive points on the
    // same way (equal way tags, no node tags on the earlier one) are merged
    // into one row that sums their distance and cost shares.
    static std::vector<std::string> messageRows(const router::OsmTrack& track);
};

} // namespace ferrow::service
