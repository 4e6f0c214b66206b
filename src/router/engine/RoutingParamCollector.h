#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "jcompat/LinkedHashMap.h"
#include "router/waypoints/OsmNodeNamed.h"

namespace ferrow::router {

class RoutingContext;

// Request parameters in query order; a repeated key keeps its first place
// and takes its last value.
using RequestParams = jcompat::LinkedHashMap<std::string, std::string>;

// Turns the query of one request line into the inputs of a routing run.
class RoutingParamCollector {
public:
    // URL-decodes the whole query ("+" is a space, "%XX" runs are UTF-8
    // bytes), then splits it at "?" and "&" into key=value pairs; pairs
    // without a value are dropped. IllegalArgumentException
    // "URLDecoder: Incomplete trailing escape (%) pattern" or
    // "URLDecoder: Illegal hex characters in escape (%) pattern".
    RequestParams getUrlParams(std::string_view query) const;

    // The waypoints of "lonlats" (null when the key is absent): pieces split
    // at ";" or "|", each "lon,lat" with an optional third part ("d": a
    // straight-line leg, "m": a via point, anything else: the via point's
    // name). The first is named "from" and the last "to" unless named otherwise.
    OsmNodeNamedList getWayPointList(const std::string* lonlats) const;

    // Applies every parameter to the context and the waypoints: no-go areas
    // (whose keys are removed from params), points of interest, "straight",
    // start heading, round-trip, turn-instruction and output settings and
    // "profile:" overrides. Later keys of params win.
    void setParams(RoutingContext& rc, OsmNodeNamedList& waypoints, RequestParams& params) const;

    // No-go circles from the parallel lists of "nogoLons", "nogoLats" and
    // "nogoRadi" (absolute no-gos); none when one of them is absent.
    std::optional<OsmNodeNamedList> readNogos(const std::string* lons, const std::string* lats,
                                              const std::string* radii) const;
    // No-go circles from "lon,lat,radius[,weight]" items separated by "|".
    std::optional<OsmNodeNamedList> readNogoList(const std::string* nogos) const;
    // Points of interest from "lon,lat,name" items separated by "|".
    std::optional<OsmNodeNamedList> readPoisList(const std::string* pois) const;

    // Longitude and latitude texts as grid values, saturating (NaN gives 0).
    static std::pair<std::int32_t, std::int32_t> toGrid(std::string_view lon, std::string_view lat);
    // The same for a waypoint, which is refused beyond the latitudes that have
    // distance scales and segment-file rows.
    static std::pair<std::int32_t, std::int32_t> toWaypointGrid(std::string_view lon, std::string_view lat);

private:
    // Appends the polygons (closed) or polylines of "lon,lat,lon,lat,...[,weight]"
    // items separated by "|".
    void parseNogoPolygons(const std::string* value, OsmNodeNamedList& result, bool closed) const;
    // One no-go circle; weight "undefined" or "NaN" makes it absolute.
    std::shared_ptr<OsmNodeNamed> readNogo(std::string_view lon, std::string_view lat, std::string_view radius,
                                           std::string_view weight) const;
};

} // namespace ferrow::router
