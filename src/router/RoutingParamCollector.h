#pragma once

#include <string>
#include <string_view>

#include "jcompat/LinkedHashMap.h"

namespace ferrow::router {

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
};

} // namespace ferrow::router
