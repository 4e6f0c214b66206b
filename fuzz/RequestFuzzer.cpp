// A request query of arbitrary bytes: URL decoding, parameters, waypoints,
// no-go circles, polygons and polylines, points of interest, settings and
// profile overrides, applied to a routing context; then the engine is set up,
// which parses the (confined) profile with the overrides. No search runs.
#include <cstdint>
#include <new>

#include "FuzzRequest.h"
#include "jcompat/File.h"
#include "router/ProfileCache.h"
#include "router/RoutingEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferrow;
    try {
        router::RoutingContext rc;
        router::OsmNodeNamedList waypoints;
        std::int32_t engineMode = 0;
        if (!fuzz::prepareRequest(fuzz::asText(data, size), rc, waypoints, engineMode)) return 0;
        router::RoutingEngine engine(jcompat::File(FERROW_DEMO_SEGMENTS), waypoints, rc, engineMode);
        router::ProfileCache::releaseProfile(rc);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // The service answers these with their text.
    }
    return 0;
}
