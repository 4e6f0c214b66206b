#include "util/Bounds.h"

#include <string>

#include "jcompat/Exceptions.h"

namespace ferrow::util {

void throwIndexOutOfBounds(std::int64_t index, std::int64_t length) {
    throw jcompat::IndexOutOfBoundsException("Index " + std::to_string(index) + " out of bounds for length " +
                                             std::to_string(length));
}

} // namespace ferrow::util
