#include "router/RoutingParamCollector.h"

#include <cmath>
#include <iterator>
#include <limits>

#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"
#include "jcompat/StringTokenizer.h"
#include "jcompat/Utf8.h"
#include "router/OsmNogoPolygon.h"
#include "router/RoutingContext.h"

namespace ferrow::router {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The number of UTF-16 code units of the character starting at text[pos].
std::size_t unitsAt(std::string_view text, std::size_t pos, std::size_t& bytes) {
    char32_t c;
    bytes = jcompat::decodeUtf8(text, pos, c);
    return c >= 0x10000 ? 2 : 1;
}

// Whether at least two code units follow position pos.
bool twoUnitsFollow(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return false;
    std::size_t bytes;
    if (unitsAt(text, pos, bytes) >= 2) return true;
    return pos + bytes < text.size();
}

std::string urlDecode(std::string_view query) {
    std::string decoded;
    decoded.reserve(query.size());
    std::size_t i = 0;
    while (i < query.size()) {
        const char c = query[i];
        if (c == '+') {
            decoded += ' ';
            ++i;
        } else if (c == '%') {
            std::string bytes;
            while (i < query.size() && query[i] == '%') {
                if (!twoUnitsFollow(query, i + 1)) {
                    throw jcompat::IllegalArgumentException("URLDecoder: Incomplete trailing escape (%) pattern");
                }
                const int high = hexValue(query[i + 1]);
                const int low = hexValue(query[i + 2]);
                if (high < 0 || low < 0) {
                    throw jcompat::IllegalArgumentException("URLDecoder: Illegal hex characters in escape (%) pattern");
                }
                bytes += static_cast<char>(high * 16 + low);
                i += 3;
            }
            decoded += jcompat::sanitizeUtf8(bytes);
        } else {
            decoded += c;
            ++i;
        }
    }
    return decoded;
}

constexpr std::string_view kProfilePrefix = "profile:";

// Appends the list to the context's no-go areas.
void addNogos(RoutingContext& rc, OsmNodeNamedList&& nogos) {
    rc.nogoPoints.insert(rc.nogoPoints.end(), std::make_move_iterator(nogos.begin()),
                         std::make_move_iterator(nogos.end()));
}

// The weight of a no-go area: NaN (absolute) for "NaN", else a number. An
// infinite weight is refused: it would turn a zero length inside the area
// into an undefined cost.
double parseNogoWeight(std::string_view text) {
    if (jcompat::JString::trim(text) == "NaN") return std::numeric_limits<double>::quiet_NaN();
    const double weight = jcompat::JString::parseDouble(text);
    if (std::isinf(weight)) {
        throw jcompat::IllegalArgumentException("nogo weight must be a finite number: " + std::string(text));
    }
    return weight;
}

} // namespace

std::pair<std::int32_t, std::int32_t> RoutingParamCollector::toGrid(std::string_view lon, std::string_view lat) {
    const double gridLon = (jcompat::JString::parseDouble(lon) + 180.0) * 1000000.0 + 0.5;
    const double gridLat = (jcompat::JString::parseDouble(lat) + 90.0) * 1000000.0 + 0.5;
    // Longitudes -180 to 180; latitudes from -90 up to below 90, where the
    // table of distance scales ends. NaN fails the tests too.
    if (!(gridLon >= 0.0 && gridLon < 360000001.0 && gridLat >= 0.0 && gridLat < 180000000.0)) {
        throw jcompat::IllegalArgumentException("lon/lat out of range: " + std::string(lon) + "," +
                                                std::string(lat));
    }
    return {jcompat::toInt(gridLon), jcompat::toInt(gridLat)};
}

RequestParams RoutingParamCollector::getUrlParams(std::string_view query) const {
    RequestParams params;
    jcompat::StringTokenizer pairs(urlDecode(query), "?&");
    while (pairs.hasMoreTokens()) {
        jcompat::StringTokenizer parts(pairs.nextToken(), "=");
        if (!parts.hasMoreTokens()) continue;
        std::string key = parts.nextToken();
        if (!parts.hasMoreTokens()) continue;
        params.put(key, parts.nextToken());
    }
    return params;
}

OsmNodeNamedList RoutingParamCollector::getWayPointList(const std::string* lonlats) const {
    if (lonlats == nullptr) throw jcompat::IllegalArgumentException("lonlats parameter not set");
    const std::vector<std::string> coords = jcompat::JString::split(*lonlats, ";|\\|");
    if (coords.empty() || coords[0].find(',') == std::string::npos) {
        throw jcompat::IllegalArgumentException("we need one lat/lon point at least!");
    }
    OsmNodeNamedList waypoints;
    for (std::size_t i = 0; i < coords.size(); ++i) {
        const std::vector<std::string> parts = jcompat::JString::split(coords[i], ",");
        if (parts.empty()) throw jcompat::IllegalArgumentException("we need one lat/lon point at least!");
        if (parts.size() < 2) throw jcompat::IndexOutOfBoundsException();
        const auto [ilon, ilat] = toGrid(parts[0], parts[1]);
        auto waypoint = std::make_shared<OsmNodeNamed>(ilon, ilat, "via" + std::to_string(i));
        if (parts.size() >= 3) {
            if (parts[2] == "d") {
                waypoint->waypointKind = OsmNodeNamed::KIND_STRAIGHT;
            } else if (parts[2] == "m") {
                waypoint->waypointKind = OsmNodeNamed::KIND_VIA;
            } else {
                waypoint->name = parts[2];
                waypoint->waypointKind = OsmNodeNamed::KIND_VIA;
            }
        }
        waypoints.push_back(std::move(waypoint));
    }
    if (waypoints.front()->name->starts_with("via")) waypoints.front()->name = "from";
    if (waypoints.back()->name->starts_with("via")) waypoints.back()->name = "to";
    return waypoints;
}

void RoutingParamCollector::setParams(RoutingContext& rc, OsmNodeNamedList& waypoints, RequestParams& params) const {
    if (params.isEmpty()) return;
    if (const std::string* profile = params.get("profile")) rc.profilePath = *profile;

    if (const std::string* lats = params.get("nogoLats"); lats != nullptr && !lats->empty()) {
        if (std::optional<OsmNodeNamedList> nogos = readNogos(params.get("nogoLons"), lats, params.get("nogoRadi"))) {
            RoutingContext::prepareNogoPoints(*nogos);
            addNogos(rc, std::move(*nogos));
        }
        params.remove("nogoLons");
        params.remove("nogoLats");
        params.remove("nogoRadi");
    }
    if (const std::string* value = params.get("nogos")) {
        if (std::optional<OsmNodeNamedList> nogos = readNogoList(value)) {
            RoutingContext::prepareNogoPoints(*nogos);
            addNogos(rc, std::move(*nogos));
        }
        params.remove("nogos");
    }
    for (const auto& [key, closed] : {std::pair{"polylines", false}, std::pair{"polygons", true}}) {
        if (const std::string* value = params.get(key)) {
            OsmNodeNamedList polygons;
            parseNogoPolygons(value, polygons, closed);
            addNogos(rc, std::move(polygons));
            params.remove(key);
        }
    }

    for (const auto& [key, value] : params) {
        // An init-capture: clang before 16 cannot capture a structured binding.
        const auto number = [&text = value] { return jcompat::JString::parseInt(text); };
        if (key == "straight") {
            for (const std::string& item : jcompat::JString::split(value, ",")) {
                const std::int32_t index = jcompat::JString::parseInt(item);
                if (index < 0) {
                    throw jcompat::IndexOutOfBoundsException("index: " + std::to_string(index) +
                                                             ", size: " + std::to_string(waypoints.size()));
                }
                if (static_cast<std::size_t>(index) < waypoints.size()) {
                    waypoints[static_cast<std::size_t>(index)]->waypointKind = OsmNodeNamed::KIND_STRAIGHT;
                }
            }
        } else if (key == "pois") {
            rc.poiList = readPoisList(&value).value_or(OsmNodeNamedList());
        } else if (key == "heading") {
            rc.startDirection = number();
            rc.forceUseStartDirection = true;
        } else if (key == "direction") {
            rc.startDirection = number();
        } else if (key == "roundTripDistance") {
            rc.roundTripDistance = number();
        } else if (key == "roundTripDirectionAdd") {
            rc.roundTripDirectionAdd = number();
        } else if (key == "roundTripPoints") {
            const std::int32_t points = number();
            rc.roundTripPoints = points >= 3 && points <= 20 ? points : 5;
        } else if (key == "allowSamewayback") {
            rc.allowSamewayback = number() == 1;
        } else if (key == "alternativeidx") {
            rc.alternativeIdx = number();
        } else if (key == "turnInstructionMode" || key == "timode") {
            rc.turnInstructionMode = number();
        } else if (key == "turnInstructionFormat") {
            if (jcompat::JString::equalsIgnoreCase(value, "osmand")) {
                rc.turnInstructionMode = 3;
            } else if (jcompat::JString::equalsIgnoreCase(value, "locus")) {
                rc.turnInstructionMode = 2;
            }
        } else if (key == "exportWaypoints") {
            rc.exportWaypoints = number() == 1;
        } else if (key == "exportCorrectedWaypoints") {
            rc.exportCorrectedWaypoints = number() == 1;
        } else if (key == "format" || key == "trackFormat") {
            rc.outputFormat = jcompat::JString::toLowerCase(value);
        } else if (key.starts_with(kProfilePrefix)) {
            if (!rc.keyValues) rc.keyValues.emplace();
            rc.keyValues->put(key.substr(kProfilePrefix.size()), value);
        }
    }
}

std::optional<OsmNodeNamedList> RoutingParamCollector::readNogos(const std::string* lons, const std::string* lats,
                                                                 const std::string* radii) const {
    if (lons == nullptr || lats == nullptr || radii == nullptr) return std::nullopt;
    const std::vector<std::string> lonList = jcompat::JString::split(*lons, ",");
    const std::vector<std::string> latList = jcompat::JString::split(*lats, ",");
    const std::vector<std::string> radiusList = jcompat::JString::split(*radii, ",");
    OsmNodeNamedList nogos;
    for (std::size_t i = 0; i < lonList.size() && i < latList.size() && i < radiusList.size(); ++i) {
        nogos.push_back(readNogo(jcompat::JString::trim(lonList[i]), jcompat::JString::trim(latList[i]),
                                 jcompat::JString::trim(radiusList[i]), "undefined"));
    }
    return nogos;
}

std::optional<OsmNodeNamedList> RoutingParamCollector::readNogoList(const std::string* nogos) const {
    if (nogos == nullptr) return std::nullopt;
    OsmNodeNamedList result;
    for (const std::string& item : jcompat::JString::split(*nogos, "\\|")) {
        const std::vector<std::string> parts = jcompat::JString::split(item, ",");
        if (parts.size() < 3) throw jcompat::IndexOutOfBoundsException();
        result.push_back(readNogo(parts[0], parts[1], parts[2], parts.size() >= 4 ? parts[3] : "NaN"));
    }
    return result;
}

std::optional<OsmNodeNamedList> RoutingParamCollector::readPoisList(const std::string* pois) const {
    if (pois == nullptr) return std::nullopt;
    OsmNodeNamedList result;
    for (const std::string& item : jcompat::JString::split(*pois, "\\|")) {
        const std::vector<std::string> parts = jcompat::JString::split(item, ",");
        if (parts.size() != 3) continue;
        const auto [ilon, ilat] = toGrid(parts[0], parts[1]);
        result.push_back(std::make_shared<OsmNodeNamed>(ilon, ilat, parts[2]));
    }
    return result;
}

void RoutingParamCollector::parseNogoPolygons(const std::string* value, OsmNodeNamedList& result, bool closed) const {
    if (value == nullptr) return;
    for (const std::string& item : jcompat::JString::split(*value, "\\|")) {
        const std::vector<std::string> parts = jcompat::JString::split(item, ",");
        if (parts.size() < 2) continue;
        auto polygon = std::make_shared<OsmNogoPolygon>(closed);
        for (std::size_t j = 0; j + 1 < parts.size(); j += 2) {
            const auto [ilon, ilat] = toGrid(parts[j], parts[j + 1]);
            polygon->addVertex(ilon, ilat);
        }
        polygon->nogoWeight = parseNogoWeight(parts.size() % 2 == 1 ? std::string_view(parts.back()) : "NaN");
        if (!polygon->points.empty()) {
            polygon->calcBoundingCircle();
            result.push_back(std::move(polygon));
        }
    }
}

std::shared_ptr<OsmNodeNamed> RoutingParamCollector::readNogo(std::string_view lon, std::string_view lat,
                                                              std::string_view radius, std::string_view weight) const {
    const double nogoWeight = weight == "undefined" ? std::numeric_limits<double>::quiet_NaN() : parseNogoWeight(weight);
    const std::int32_t radiusMetres = jcompat::toInt(jcompat::JString::parseDouble(radius));
    const auto [ilon, ilat] = toGrid(lon, lat);
    auto nogo = std::make_shared<OsmNodeNamed>(ilon, ilat, "nogo" + std::to_string(radiusMetres));
    nogo->isNogo = true;
    nogo->nogoWeight = nogoWeight;
    return nogo;
}

} // namespace ferrow::router
