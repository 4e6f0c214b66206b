#include "util/ByteArrayUnifier.h"

#include <string>

#include "jcompat/Exceptions.h"
#include "util/Crc32.h"

namespace ferrow::util {

ByteArrayUnifier::ByteArrayUnifier(std::int32_t slotCount) {
    if (slotCount < 1) {
        throw jcompat::IllegalArgumentException("unifier needs at least one slot, not " + std::to_string(slotCount));
    }
    slots_.resize(static_cast<std::size_t>(slotCount));
}

ByteArray ByteArrayUnifier::unify(std::span<const Byte> slice) {
    const auto crc = static_cast<std::uint32_t>(Crc32::crc(slice));
    ByteArray& slot = slots_[(crc & 0x0FFFFFFFU) % slots_.size()];
    if (!slot.contentEquals(slice)) {
        slot = ByteArray::copyOf(slice);
    }
    return slot;
}

} // namespace ferrow::util
