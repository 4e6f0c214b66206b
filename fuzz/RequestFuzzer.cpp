// A request query of arbitrary bytes: URL decoding, parameters, waypoints,
// no-go circles, polygons and polylines, points of interest, settings and
// profile overrides, applied to a routing context; then the engine is set up,
// which parses the (confined) profile with the overrides. No search runs.
#include <cstdint>

#include "FuzzRequest.h"
#include "router/costing/ProfileCache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferrow;
    fuzz::withEngine(fuzz::asText(data, size), [](router::RoutingEngine&, router::RoutingContext& rc) {
        router::ProfileCache::releaseProfile(rc);
    });
    return 0;
}
