#pragma once

#include "jcompat/Exceptions.h"

namespace ferrow::router {

// A search died out after a few nodes: the start lies on an island of the
// road graph. It carries no message; the route run retries after freezing
// the island's node pairs, so that waypoint matching avoids them.
class RoutingIslandException : public jcompat::RuntimeException {
public:
    RoutingIslandException() = default;
    const char* typeName() const noexcept override { return "RoutingIslandException"; }
};

} // namespace ferrow::router
