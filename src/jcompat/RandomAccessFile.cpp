#include "jcompat/RandomAccessFile.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "jcompat/Exceptions.h"
#include "jcompat/OpenForReading.h"
#include "jcompat/Platform.h"

namespace ferrow::jcompat {

RandomAccessFile::RandomAccessFile(const File& file) : path_(file.getPath()), fd_(openForReading(file)) {}

RandomAccessFile::~RandomAccessFile() { close(); }

void RandomAccessFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::int64_t RandomAccessFile::length() const {
    if (fd_ < 0) throw IllegalStateException("closed");
    struct stat status {};
    if (fstat(fd_, &status) != 0) throw IOException(systemError(path_, errno));
    return static_cast<std::int64_t>(status.st_size);
}

FileVersion RandomAccessFile::version() const {
    if (fd_ < 0) throw IllegalStateException("closed");
    struct stat status {};
    if (fstat(fd_, &status) != 0) throw IOException(systemError(path_, errno));
    return FileVersion{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                       static_cast<std::int64_t>(status.st_size), platform::modifiedNanos(status),
                       platform::changedNanos(status)};
}

void RandomAccessFile::readFully(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t length) {
    if (length <= 0) return;
    if (offset < 0 || static_cast<std::size_t>(offset) + static_cast<std::size_t>(length) > buffer.size()) {
        throw IndexOutOfBoundsException("readFully outside the buffer");
    }
    std::size_t done = 0;
    const auto wanted = static_cast<std::size_t>(length);
    while (done < wanted) {
        if (fd_ < 0) throw IllegalStateException("closed");
        if (position_ < 0) throw IOException("Negative seek offset");
        const ssize_t got = ::pread(fd_, buffer.data() + offset + done, wanted - done, static_cast<off_t>(position_));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw IOException(systemError(path_, errno));
        }
        if (got == 0) throw EOFException("EOF");
        done += static_cast<std::size_t>(got);
        position_ += got;
    }
}

} // namespace ferrow::jcompat
