#include "jcompat/File.h"

#include <sys/stat.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "jcompat/Platform.h"

namespace ferrow::jcompat {

namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    return path;
}

// The status of the canonical path, or nothing on any failure.
std::optional<struct stat> meta(const std::string& path) {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> canonical(realpath(path.c_str(), nullptr), &std::free);
    if (!canonical) return std::nullopt;
    struct stat status {};
    if (stat(canonical.get(), &status) != 0) return std::nullopt;
    return status;
}

} // namespace

File::File(const File* parent, std::string_view name) {
    if (parent == nullptr) {
        path_ = std::string(name);
        return;
    }
    path_ = std::string(withoutTrailingSlashes(parent->path_));
    path_ += '/';
    path_.append(name);
}

std::string File::getName() const {
    const std::string_view path = withoutTrailingSlashes(path_);
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> File::getParent() const {
    if (path_ == "." || path_ == "/" || path_ == "\\") return std::nullopt;
    const std::size_t slash = path_.rfind('/');
    const std::string_view lastPart =
        slash == std::string::npos ? std::string_view(path_) : std::string_view(path_).substr(slash + 1);
    if (lastPart == "..") return std::nullopt;
    if (slash == std::string::npos) return std::string(".");
    if (slash == 0) return std::string("/");
    return path_.substr(0, slash);
}

bool File::exists() const {
    if (isInvalid()) return false;
    struct stat status {};
    if (lstat(path_.c_str(), &status) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw IOException(path_ + " (" + std::strerror(errno) + ")");
}

bool File::isDirectory() const {
    const auto status = meta(path_);
    return status && S_ISDIR(status->st_mode);
}

std::int64_t File::lastModified() const {
    const auto status = meta(path_);
    if (!status) return 0;
    return platform::modifiedMillis(*status);
}

std::int32_t File::hashCode() const { return JString::hashCode(path_); }

} // namespace ferrow::jcompat
