#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "jcompat/BufferedFileSource.h"
#include "jcompat/File.h"

namespace ferrow::jcompat {

// Sequential byte streams. The callers build DataInputStream over
// BufferedInputStream over FileInputStream; all three share one buffered
// source, so closing any of them closes it (and it is closed when the last
// of them goes away).
class InputStream {
public:
    virtual ~InputStream() = default;
    virtual void close() { source_->close(); }

protected:
    explicit InputStream(std::shared_ptr<BufferedFileSource> source) : source_(std::move(source)) {}
    InputStream(const InputStream& other) = default;
    InputStream& operator=(const InputStream&) = default;

    std::shared_ptr<BufferedFileSource> source_;
};

class FileInputStream : public InputStream {
public:
    // Only a regular file opens (openForReading); a failure is an IOException
    // (FileNotFoundException when absent) with the system's error text.
    explicit FileInputStream(const File& file) : InputStream(std::make_shared<BufferedFileSource>(file)) {}
};

class BufferedInputStream : public InputStream {
public:
    explicit BufferedInputStream(const InputStream& stream) : InputStream(stream) {}
};

// Big-endian typed reads. A value the file ends inside of fails with
// EOFException (no message) before anything of it is consumed.
class DataInputStream : public InputStream {
public:
    explicit DataInputStream(const InputStream& stream) : InputStream(stream) {}

    std::int8_t readByte();
    std::int16_t readShort();
    std::int32_t readInt();
    std::int64_t readLong();
    double readDouble();
    // Exactly as many bytes as the buffer holds.
    void readFully(std::span<std::uint8_t> buffer);

private:
    std::uint64_t readBigEndian(std::size_t size);
};

} // namespace ferrow::jcompat
