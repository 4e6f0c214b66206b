#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "jcompat/File.h"

namespace ferrow::jcompat {

// Which file a file is and when it last changed: two equal versions hold the
// same bytes, unless the file was written twice within the clock's step
// (FileVersion::settled tells when that can no longer be).
struct FileVersion {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanos = 0;
    // The status change time, which every write sets and no call can set back.
    std::int64_t changedNanos = 0;

    bool operator==(const FileVersion&) const = default;

    // Whether the last change lies far enough before nowMillis that any later
    // write gives the file another version, however coarse the file system's clock.
    bool settled(std::int64_t nowMillis) const noexcept { return changedNanos / 1000000 < nowMillis - 1000; }
};

// A read-only file read at an explicit position.
class RandomAccessFile {
public:
    // Only a regular file opens (openForReading); a failure is an IOException
    // (FileNotFoundException when absent) with the system's error text.
    explicit RandomAccessFile(const File& file);
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    // The size in bytes; IllegalStateException "closed" after close().
    std::int64_t length() const;
    // The file's version as it stands now; IllegalStateException "closed" after close().
    FileVersion version() const;
    void seek(std::int64_t position) { position_ = position; }
    std::int64_t getFilePointer() const { return position_; }

    // Fills buffer[offset, offset + length) from the read position, advancing
    // it. The end of the file fails with EOFException "EOF", keeping the bytes
    // already placed and the advanced position; a closed file fails with
    // IllegalStateException "closed". A length of 0 or less reads nothing.
    void readFully(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t length);
    void readFully(std::span<std::uint8_t> buffer) { readFully(buffer, 0, static_cast<std::int32_t>(buffer.size())); }

    // A second close does nothing.
    void close();
    bool isClosed() const { return fd_ < 0; }

private:
    std::string path_;
    int fd_ = -1;
    std::int64_t position_ = 0;
};

} // namespace ferrow::jcompat
