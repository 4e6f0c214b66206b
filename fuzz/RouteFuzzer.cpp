// A whole request on the demo data from a query of arbitrary bytes, run as
// the service runs it (any engine mode: routes, alternatives, straight legs,
// no-go areas, point information, round trips) with a small memory class,
// and the found track formatted as the answer.
#include <cstdint>
#include <new>

#include "FuzzRequest.h"
#include "jcompat/File.h"
#include "router/RoutingEngine.h"
#include "service/RouteGeoJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferrow;
    try {
        router::RoutingContext rc;
        router::OsmNodeNamedList waypoints;
        std::int32_t engineMode = 0;
        if (!fuzz::prepareRequest(fuzz::asText(data, size), rc, waypoints, engineMode)) return 0;
        router::RoutingEngine engine(jcompat::File(FERROW_DEMO_SEGMENTS), waypoints, rc, engineMode);
        engine.doRun(60000);
        if (!engine.getErrorMessage()) service::RouteGeoJson::format(engine.getFoundTrack());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // The service answers these with their text.
    }
    return 0;
}
