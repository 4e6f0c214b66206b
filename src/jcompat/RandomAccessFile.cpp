#include "jcompat/RandomAccessFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "jcompat/Exceptions.h"

namespace ferrow::jcompat {

namespace {

std::string systemError(const std::string& path, int error) { return path + " (" + std::strerror(error) + ")"; }

} // namespace

RandomAccessFile::RandomAccessFile(const File& file) : path_(file.getPath()) {
    if (file.isInvalid()) throw FileNotFoundException(systemError(path_, ENOENT));
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT) throw FileNotFoundException(systemError(path_, error));
        throw IOException(systemError(path_, error));
    }
}

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
