#pragma once

#include <string>

namespace ferrow::codec {

// Raises IOException "corrupt tile: " + detail: a tile body that asks for more
// than a tile can hold (a count, a width or a target beyond its limits). It is
// raised before anything is allocated or read for the bad value.
[[noreturn]] void throwCorruptTile(const std::string& detail);

} // namespace ferrow::codec
