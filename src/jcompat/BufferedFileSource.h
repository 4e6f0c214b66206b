#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jcompat/File.h"

namespace ferrow::jcompat {

// A file opened read-only for buffered sequential reading; the one source
// behind a chain of input streams or a line reader.
class BufferedFileSource {
public:
    // Only a regular file opens (openForReading); a failure is an IOException
    // (FileNotFoundException when absent) with the system's error text.
    explicit BufferedFileSource(const File& file);
    ~BufferedFileSource();
    BufferedFileSource(const BufferedFileSource&) = delete;
    BufferedFileSource& operator=(const BufferedFileSource&) = delete;

    // Makes at least `count` bytes available without consuming any; false
    // when the file ends before.
    bool ensure(std::size_t count);
    // The available bytes (valid until the next ensure/read).
    const std::uint8_t* data() const { return buffer_.data() + start_; }
    std::size_t available() const { return end_ - start_; }
    void consume(std::size_t count) { start_ += count; }

    // Copies up to `count` bytes; fewer only at the end of the file.
    std::size_t read(std::uint8_t* target, std::size_t count);

    void close();
    bool isClosed() const { return fd_ < 0; }

private:
    void checkOpen() const;
    // Reads more bytes behind the available ones; false at the end of the file.
    bool fill();

    std::string path_;
    int fd_ = -1;
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

} // namespace ferrow::jcompat
