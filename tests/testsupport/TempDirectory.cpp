#include "testsupport/TempDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace ferrow::testsupport {

TempDirectory::TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ferrow-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory from " + pattern);
    }
    path_ = buffer.data();
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace ferrow::testsupport
