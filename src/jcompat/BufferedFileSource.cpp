#include "jcompat/BufferedFileSource.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jcompat/Exceptions.h"
#include "jcompat/OpenForReading.h"

namespace ferrow::jcompat {

namespace {

constexpr std::size_t kBufferSize = 65536;

} // namespace

BufferedFileSource::BufferedFileSource(const File& file) : path_(file.getPath()), fd_(openForReading(file)) {
    buffer_.resize(kBufferSize);
}

BufferedFileSource::~BufferedFileSource() { close(); }

void BufferedFileSource::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void BufferedFileSource::checkOpen() const {
    if (fd_ < 0) throw IOException("Stream closed");
}

bool BufferedFileSource::fill() {
    checkOpen();
    if (start_ > 0) {
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(start_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
        end_ -= start_;
        start_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (got > 0) {
            end_ += static_cast<std::size_t>(got);
            return true;
        }
        if (got == 0) return false;
        if (errno != EINTR) throw IOException(systemError(path_, errno));
    }
}

bool BufferedFileSource::ensure(std::size_t count) {
    checkOpen();
    while (available() < count) {
        if (!fill()) return false;
    }
    return true;
}

std::size_t BufferedFileSource::read(std::uint8_t* target, std::size_t count) {
    std::size_t copied = 0;
    while (copied < count) {
        if (available() == 0 && !ensure(1)) break;
        const std::size_t chunk = std::min(count - copied, available());
        std::memcpy(target + copied, data(), chunk);
        consume(chunk);
        copied += chunk;
    }
    return copied;
}

} // namespace ferrow::jcompat
