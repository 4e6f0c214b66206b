#include "codec/CorruptTile.h"

#include "jcompat/Exceptions.h"

namespace ferrow::codec {

void throwCorruptTile(const std::string& detail) { throw jcompat::IOException("corrupt tile: " + detail); }

} // namespace ferrow::codec
