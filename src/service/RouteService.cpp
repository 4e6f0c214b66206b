#include "service/RouteService.h"

#include <exception>
#include <new>

#include "jcompat/File.h"

namespace ferrow::service {

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
        // Our failure types answer their type name here when they carry no message.
        return {failure.what(), false};
    }
}

RouteService::Answer RouteService::routeWithEngine(const jcompat::File& /*segmentDir*/,
                                                   router::RequestParams& /*params*/) {
    // The routing engine is joined here once it exists: a context with memory
    // class 128 and the profile path, the waypoints from "lonlats", "profile"
    // removed, the engine mode from "engineMode", the remaining parameters
    // applied, then a run limited to 60000 ms answered with the engine's error
    // message or RouteGeoJson of its found track.
    return {"routing engine not available yet", false};
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
