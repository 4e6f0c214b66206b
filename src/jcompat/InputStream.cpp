#include "jcompat/InputStream.h"

#include <bit>

#include "jcompat/Exceptions.h"

namespace ferrow::jcompat {

std::uint64_t DataInputStream::readBigEndian(std::size_t size) {
    if (!source_->ensure(size)) throw EOFException();
    const std::uint8_t* bytes = source_->data();
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
    source_->consume(size);
    return value;
}

std::int8_t DataInputStream::readByte() { return static_cast<std::int8_t>(readBigEndian(1)); }
std::int16_t DataInputStream::readShort() { return static_cast<std::int16_t>(readBigEndian(2)); }
std::int32_t DataInputStream::readInt() { return static_cast<std::int32_t>(readBigEndian(4)); }
std::int64_t DataInputStream::readLong() { return static_cast<std::int64_t>(readBigEndian(8)); }
double DataInputStream::readDouble() { return std::bit_cast<double>(readBigEndian(8)); }

void DataInputStream::readFully(std::span<std::uint8_t> buffer) {
    if (source_->read(buffer.data(), buffer.size()) < buffer.size()) throw EOFException();
}

} // namespace ferrow::jcompat
