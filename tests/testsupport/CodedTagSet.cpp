#include "testsupport/CodedTagSet.h"

#include <array>

#include "testsupport/StatEncoder.h"
#include "util/BitCoderContext.h"

namespace ferrow::testsupport {

namespace {

// The var-bits pairs (index step, value) and the final 0, into either coder.
template <typename Coder>
void writePairs(const CodedTagSet& tags, Coder& coder) {
    std::int32_t previous = 0;
    for (const auto& [index, value] : tags.pairs) {
        coder.encodeVarBits(index - previous);
        coder.encodeVarBits(value);
        previous = index;
    }
    coder.encodeVarBits(0);
}

} // namespace

std::int32_t CodedTagSet::codeOfValueIndex(std::int32_t valueIndex) {
    if (valueIndex == 1) {
        return 7;
    }
    return valueIndex <= 8 ? valueIndex - 2 : valueIndex - 1;
}

util::ByteArray CodedTagSet::toBytes() const {
    // Larger than any set a profile may keep: tiles may carry longer ones.
    std::array<util::Byte, 4096> buffer{};
    util::BitCoderContext coder = util::BitCoderContext::writer(buffer);
    writePairs(*this, coder);
    const std::int32_t length = coder.flushAndGetLength();
    return util::ByteArray::copyOf(std::span<const util::Byte>(buffer.data(), static_cast<std::size_t>(length)));
}

void CodedTagSet::writeTo(StatEncoder& encoder) const { writePairs(*this, encoder); }

} // namespace ferrow::testsupport
