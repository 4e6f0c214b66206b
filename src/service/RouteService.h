#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "router/engine/RoutingParamCollector.h"

namespace ferrow::jcompat {
class File;
}

namespace ferrow::router {
class RoutingContext;
}

namespace ferrow::service {

// The request handler and the text helpers of the route answer.
struct RouteService {
    // The outcome of one request: a GeoJSON document (ok) or an error text.
    struct Answer {
        std::string text;
        bool ok = false;
    };

    // Handles the request line `line` whose first TAB is at `tabPosition`.
    // Every ordinary failure becomes an error answer: its message, or its
    // type name when it has none. Running out of memory is not ordinary and
    // propagates.
    static Answer answer(std::string_view line, std::size_t tabPosition, const std::string& segmentDir);

    // A TAB-separated text as a JSON array of JSON strings.
    static std::string row(std::string_view text);

    // Millionths of a degree as decimal text with exactly six fraction digits.
    static std::string formatPos(std::int32_t value);

private:
    // Everything after the profile check: the routing context, waypoints,
    // engine mode and parameters, then the engine run.
    static Answer routeWithEngine(const jcompat::File& segmentDir, router::RequestParams& params);

    // The routing run for the prepared request, answered with the found
    // track's GeoJSON or the engine's error message.
    static Answer runEngine(const jcompat::File& segmentDir, router::OsmNodeNamedList& waypoints,
                            router::RoutingContext& rc, std::int32_t engineMode);
};

} // namespace ferrow::service
