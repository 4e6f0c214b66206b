#include "service/RouteService.h"

#include <exception>
#include <new>

#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/JString.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingEngine.h"
#include "service/RouteGeoJson.h"

namespace ferrow::service {

namespace {

// The run-time limit of one routing run.
constexpr std::int64_t kMaxRunningTimeMillis = 60000;

// The failure's whole message, which may hold NUL characters, or its type name.
std::string textOf(const std::exception& failure) {
    const auto* throwable = dynamic_cast<const jcompat::Throwable*>(&failure);
    if (throwable != nullptr && throwable->hasMessage()) return throwable->getMessage();
    return failure.what();
}

} // namespace

RouteService::Answer RouteService::answer(std::string_view line, std::size_t tabPosition,
                                          const std::string& segmentDir) {
    const std::string_view query = line.substr(tabPosition + 1);
    try {
        router::RequestParams params = router::RoutingParamCollector().getUrlParams(query);
        if (!params.containsKey("profile")) return {"profile parameter not set", false};
        return routeWithEngine(jcompat::File(segmentDir), params);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& failure) {
        return {textOf(failure), false};
    }
}

namespace {

// A malformed mode is answered with the failure's type name alone.
std::int32_t parseEngineMode(const std::string& text) {
    try {
        return jcompat::JString::parseInt(text);
    } catch (const jcompat::NumberFormatException&) {
        throw jcompat::NumberFormatException();
    }
}

} // namespace

RouteService::Answer RouteService::routeWithEngine(const jcompat::File& segmentDir, router::RequestParams& params) {
    const router::RoutingParamCollector collector;
    router::RoutingContext rc;
    rc.memoryClass = 128;
    rc.profilePath = *params.get("profile");
    router::OsmNodeNamedList waypoints = collector.getWayPointList(params.get("lonlats"));
    params.remove("profile");
    const std::string* mode = params.get("engineMode");
    const std::int32_t engineMode = mode != nullptr ? parseEngineMode(*mode) : 0;
    collector.setParams(rc, waypoints, params);
    return runEngine(segmentDir, waypoints, rc, engineMode);
}

RouteService::Answer RouteService::runEngine(const jcompat::File& segmentDir, router::OsmNodeNamedList& waypoints,
                                             router::RoutingContext& rc, std::int32_t engineMode) {
    router::RoutingEngine engine(segmentDir, waypoints, rc, engineMode);
    engine.doRun(kMaxRunningTimeMillis);
    if (const std::optional<std::string>& error = engine.getErrorMessage()) return {*error, false};
    return {RouteGeoJson::format(engine.getFoundTrack()), true};
}

std::string RouteService::row(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string json = "[\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            json += "\",\"";
        } else if (c == '\\') {
            json += "\\\\";
        } else if (c == '"') {
            json += "\\\"";
        } else if (byte < 0x20) {
            json += "\\u00";
            json += kHexDigits[byte >> 4];
            json += kHexDigits[byte & 0xF];
        } else {
            // Non-ASCII characters stay as they are (their UTF-8 bytes are all >= 0x80).
            json += c;
        }
    }
    json += "\"]";
    return json;
}

std::string RouteService::formatPos(std::int32_t value) {
    char buffer[12];
    int pos = sizeof buffer;
    std::int64_t rest = value < 0 ? -static_cast<std::int64_t>(value) : value;
    for (int i = 0; i < 6; ++i) {
        buffer[--pos] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    buffer[--pos] = '.';
    do {
        buffer[--pos] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest > 0); // at most 4 integer digits for any 32-bit value
    std::string text = value < 0 ? "-" : "";
    text.append(buffer + pos, sizeof buffer - static_cast<std::size_t>(pos));
    return text;
}

} // namespace ferrow::service
