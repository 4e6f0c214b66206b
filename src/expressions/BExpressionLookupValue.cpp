#include "expressions/BExpressionLookupValue.h"

#include <algorithm>

namespace ferrow::expressions {

bool BExpressionLookupValue::matches(std::string_view text) const {
    return value_ == text ||
           std::any_of(aliases_.begin(), aliases_.end(), [text](const std::string& alias) { return alias == text; });
}

} // namespace ferrow::expressions
