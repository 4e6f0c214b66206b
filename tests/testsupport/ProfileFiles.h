#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

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

// A directory of its own holding a lookup table ("lookups.dat", the
// project's unless another is given) and the profiles a test writes beside
// it. No file is written twice: the profile cache knows a profile by its path
// and its modification time in milliseconds, which a rewrite within the same
// millisecond keeps. A name written again with another text goes into a new
// subdirectory, beside a copy of the lookup table; the same text again gives
// the file written before.
class ProfileDir {
public:
    explicit ProfileDir(const std::string& lookupTable = readRepositoryFile("profiles/lookups.dat"))
        : lookupTable_(lookupTable) {
        lookups_ = dir_.write("lookups.dat", lookupTable);
    }

    // The path of the file of this name and text.
    std::string write(const std::string& name, const std::string& text) {
        int sameName = 0;
        for (const Written& file : written_) {
            if (file.name != name) continue;
            if (file.text == text) return file.path;
            ++sameName;
        }
        std::string dir = dir_.path();
        if (sameName > 0) {
            dir += "/" + name + "." + std::to_string(sameName + 1);
            std::filesystem::create_directory(dir);
            writeFile(dir + "/lookups.dat", lookupTable_);
        }
        written_.push_back(Written{name, text, writeFile(dir + "/" + name, text)});
        return written_.back().path;
    }
    const std::string& lookups() const { return lookups_; }
    const std::string& path() const { return dir_.path(); }

private:
    struct Written {
        std::string name;
        std::string text;
        std::string path;
    };

    static std::string writeFile(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    expressions::testing::TempDir dir_;
    std::string lookupTable_;
    std::string lookups_;
    std::vector<Written> written_;
};

// A profile of the given global section, with the smallest way and node sections.
inline std::string profileText(const std::string& global) {
    return "---context:global\n" + global +
           "\n---context:way\nassign costfactor 1\n---context:node\nassign initialcost 0\n";
}

} // namespace ferrow::router::testing
