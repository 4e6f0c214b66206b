#pragma once

#include "jcompat/Exceptions.h"

namespace ferrow::router {

// A search stopped before it ran out of paths: the stop flag, the time limit,
// the memory limit, or the early exit of a close recalculation. The message
// says which and becomes the run's error message; a leg that met its
// reference track before the cut may still use the partial result.
class SearchCutShortException : public jcompat::IllegalArgumentException {
public:
    using jcompat::IllegalArgumentException::IllegalArgumentException;
    const char* typeName() const noexcept override { return "SearchCutShortException"; }
};

} // namespace ferrow::router
