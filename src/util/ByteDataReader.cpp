#include "util/ByteDataReader.h"

#include <limits>

#include "jcompat/Exceptions.h"

namespace ferrow::util {

void ByteDataReader::reset(std::span<const Byte> data, std::int32_t start) {
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw jcompat::IllegalArgumentException("byte record data too large: " + std::to_string(data.size()));
    }
    data_ = data.data();
    length_ = static_cast<std::int32_t>(data.size());
    position_ = start;
    end_ = length_;
}

std::string ByteDataReader::toString() const {
    std::string text = "[";
    for (std::int32_t i = 0; i < length_; ++i) {
        text += i == 0 ? " " : ", ";
        text += std::to_string(static_cast<int>(static_cast<std::int8_t>(data_[i])));
    }
    text += " ]";
    return text;
}

} // namespace ferrow::util
