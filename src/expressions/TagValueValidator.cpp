#include "expressions/TagValueValidator.h"

#include <array>

#include "util/BitCoderContext.h"

namespace ferrow::expressions {

std::uint64_t RawTagSet::hashOf(std::span<const std::int32_t> pairs) noexcept {
    std::uint64_t hash = 0x9E3779B97F4A7C15ULL ^ pairs.size();
    for (const std::int32_t value : pairs) {
        hash = (hash ^ static_cast<std::uint32_t>(value)) * 0xBF58476D1CE4E5B9ULL;
        hash ^= hash >> 31;
    }
    return hash;
}

util::ByteArray TagValueValidator::keepUsedTags(std::span<const std::int32_t> pairs) {
    std::array<util::Byte, TAG_BUFFER_SIZE> buffer;
    util::BitCoderContext out = util::BitCoderContext::writer(buffer);
    const std::span<const std::uint8_t> used = lookupIdxUsedTable();
    // 64-bit so that damaged steps cannot wrap the index back into the table.
    std::int64_t index = 0;
    std::int64_t lastKept = 0;
    bool kept = false;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        index += pairs[i];
        if (index < static_cast<std::int64_t>(used.size()) && (used[static_cast<std::size_t>(index)] & 1U) != 0) {
            out.encodeVarBits(static_cast<std::int32_t>(index - lastKept));
            out.encodeVarBits(pairs[i + 1]);
            lastKept = index;
            kept = true;
        }
    }
    if (!kept) return {};
    out.encodeVarBits(0);
    const std::int32_t length = out.flushAndGetLength();
    return unify(std::span<const util::Byte>(buffer.data(), static_cast<std::size_t>(length)));
}

FilteredTagSet TagValueValidator::filterUncached(std::span<const std::int32_t> pairs) {
    FilteredTagSet filtered;
    filtered.tags = keepUsedTags(pairs);
    if (filtered.tags) filtered.accessType = accessType(filtered.tags);
    return filtered;
}

} // namespace ferrow::expressions
