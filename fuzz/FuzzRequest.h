#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "jcompat/File.h"
#include "jcompat/JString.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingEngine.h"
#include "router/engine/RoutingParamCollector.h"

namespace ferrow::fuzz {

// The memory class of fuzzed requests: small, so that one input stays fast.
constexpr std::int32_t MEMORY_CLASS = 16;

// The profile a fuzzed request may name: one of the project's profiles, by
// its file name, or a missing one; never any other file of the machine.
inline std::string confinedProfile(const std::string& requested) {
    static const std::array<const char*, 5> known = {"bike.vpf", "car.vpf", "car-eco.vpf", "foot.vpf", "dummy.vpf"};
    const std::string name = requested.substr(requested.find_last_of('/') + 1);
    for (const char* profile : known) {
        if (name == profile) return profilePath(name);
    }
    return profilePath("missing.vpf");
}

// Fills rc and waypoints from the query as the service does, with the
// profile confined; false when the query names no profile (which the service
// refuses before anything else).
inline bool prepareRequest(std::string_view query, router::RoutingContext& rc, router::OsmNodeNamedList& waypoints,
                           std::int32_t& engineMode) {
    const router::RoutingParamCollector collector;
    router::RequestParams params = collector.getUrlParams(query);
    const std::string* profile = params.get("profile");
    if (profile == nullptr) return false;
    rc.memoryClass = MEMORY_CLASS;
    rc.profilePath = confinedProfile(*profile);
    waypoints = collector.getWayPointList(params.get("lonlats"));
    params.remove("profile");
    const std::string* mode = params.get("engineMode");
    engineMode = mode != nullptr ? jcompat::JString::parseInt(*mode) : 0;
    collector.setParams(rc, waypoints, params);
    return true;
}

// Prepares the query and sets up the engine on the fuzz segment directory (which parses
// the profile), then hands the engine and its context to use. Failures that
// the service answers with their text end the input quietly.
template <typename Use>
void withEngine(std::string_view query, Use use) {
    try {
        router::RoutingContext rc;
        router::OsmNodeNamedList waypoints;
        std::int32_t engineMode = 0;
        if (!prepareRequest(query, rc, waypoints, engineMode)) return;
        router::RoutingEngine engine(jcompat::File(FERROW_FUZZ_SEGMENTS), waypoints, rc, engineMode);
        use(engine, rc);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
    }
}

} // namespace ferrow::fuzz
