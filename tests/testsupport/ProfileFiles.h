#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#include "testsupport/ProfileFixture.h"

namespace ferrow::router::testing {

inline std::string readRepositoryFile(const std::string& relativePath) {
    std::ifstream in(std::string(FERROW_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void setLastModified(const std::string& path, std::int64_t millis) {
    const timespec time{static_cast<time_t>(millis / 1000), static_cast<long>(millis % 1000) * 1000000};
    const timespec times[2] = {time, time};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat " + path);
}

// A directory of its own holding the project's "lookups.dat" and the
// profiles a test writes beside it.
class ProfileDir {
public:
    ProfileDir() { lookups_ = dir_.write("lookups.dat", readRepositoryFile("profiles/lookups.dat")); }

    std::string write(const std::string& name, const std::string& text) const { return dir_.write(name, text); }
    const std::string& lookups() const { return lookups_; }
    const std::string& path() const { return dir_.path(); }

private:
    expressions::testing::TempDir dir_;
    std::string lookups_;
};

// A profile of the given global section, with the smallest way and node sections.
inline std::string profileText(const std::string& global) {
    return "---context:global\n" + global +
           "\n---context:way\nassign costfactor 1\n---context:node\nassign initialcost 0\n";
}

} // namespace ferrow::router::testing
