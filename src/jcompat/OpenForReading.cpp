#include "jcompat/OpenForReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "jcompat/Exceptions.h"

namespace ferrow::jcompat {

std::string systemError(const std::string& path, int error) { return path + " (" + std::strerror(error) + ")"; }

int openForReading(const File& file) {
    const std::string& path = file.getPath();
    if (file.isInvalid()) throw FileNotFoundException(systemError(path, ENOENT));
    // Not blocking: opening a FIFO would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) throw FileNotFoundException(systemError(path, error));
        throw IOException(systemError(path, error));
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        throw IOException(systemError(path, error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        if (S_ISDIR(status.st_mode)) throw FileNotFoundException(systemError(path, EISDIR));
        throw IOException(path + " (Not a regular file)");
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace ferrow::jcompat
