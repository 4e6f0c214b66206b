#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferrow::jcompat {

// An immutable path text. Nothing is normalised: "." and ".." parts, doubled
// slashes and relative paths stay as given.
class File {
public:
    explicit File(std::string path) : path_(std::move(path)) {}
    // With a parent: its path without trailing "/", then "/", then the name.
    // Without one (nullptr): the name unchanged.
    File(const File* parent, std::string_view name);

    const std::string& getPath() const { return path_; }
    // The text after the last "/" once trailing slashes are removed.
    std::string getName() const;
    // The parent directory's path, or nothing for ".", "/", "\", or a path
    // whose last part is "..".
    std::optional<std::string> getParent() const;

    // Whether anything exists at the path (a dangling link does). Failures
    // other than absence raise IOException.
    bool exists() const;
    // Both resolve links; any failure counts as "not a directory" and time 0.
    bool isDirectory() const;
    std::int64_t lastModified() const;

    // A path holding a NUL character names no file: the system calls would
    // read only the part before it.
    bool isInvalid() const { return path_.find('\0') != std::string::npos; }

    std::string toString() const { return path_; }
    bool equals(const File& other) const { return path_ == other.path_; }
    bool operator==(const File& other) const { return equals(other); }
    std::int32_t hashCode() const;

private:
    std::string path_;
};

} // namespace ferrow::jcompat
