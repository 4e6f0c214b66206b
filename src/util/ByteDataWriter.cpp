#include "util/ByteDataWriter.h"

#include <algorithm>

namespace ferrow::util {

void ByteDataWriter::writeVarBytes(std::span<const Byte> bytes) {
    writeVarLengthUnsigned(static_cast<std::int32_t>(bytes.size()));
    Byte* p = put(static_cast<std::int32_t>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), p);
}

void ByteDataWriter::writeModeAndTags(bool reverse, std::span<const Byte> tags) {
    const auto length = static_cast<std::uint32_t>(tags.size());
    writeVarLengthUnsigned(static_cast<std::int32_t>((length << 1) | (reverse ? 1U : 0U)));
    Byte* p = put(static_cast<std::int32_t>(tags.size()));
    std::copy(tags.begin(), tags.end(), p);
}

void ByteDataWriter::patchSize(std::int32_t sizePosition) {
    if (sizePosition < 0 || sizePosition >= position_) {
        throwIndexOutOfBounds(sizePosition, position_);
    }
    const std::int32_t size = position_ - sizePosition - 1;
    const std::int32_t extra = varLengthSize(static_cast<std::uint32_t>(size)) - 1;
    const std::int32_t written = position_;
    if (extra > 0) {
        put(extra); // checks the room for the moved bytes
        Byte* first = out_ + sizePosition + 1;
        std::copy_backward(first, first + size, first + size + extra);
    }
    position_ = sizePosition;
    writeVarLengthUnsigned(size);
    position_ = written + extra;
}

} // namespace ferrow::util
