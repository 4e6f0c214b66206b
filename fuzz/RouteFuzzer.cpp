// A whole request from a query of arbitrary bytes, run as the service runs it
// (any engine mode: routes, alternatives, straight legs, no-go areas, point
// information, round trips) with a small memory class, and the found track
// formatted as the answer. The data: the demo town, the real roads of
// Gothenburg and the odd sites (see fuzz/CMakeLists.txt).
#include <cstdint>

#include "FuzzRequest.h"
#include "service/RouteGeoJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferrow;
    fuzz::withEngine(fuzz::asText(data, size), [](router::RoutingEngine& engine, router::RoutingContext&) {
        // A run-time limit well within the fuzzer's 10 s an input under the
        // sanitizers (a bike route across Gothenburg with alternatives takes
        // 6 s there); a search cut short ends like any timeout.
        engine.doRun(3000);
        if (!engine.getErrorMessage()) service::RouteGeoJson::format(engine.getFoundTrack());
    });
    return 0;
}
