#include "util/ByteDataReader.h"

#include <limits>

#include "jcompat/Exceptions.h"

namespace ferrow::util {

void ByteDataReader::throwTooLarge(std::size_t size) {
    throw jcompat::IllegalArgumentException("byte record data too large: " + std::to_string(size));
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
