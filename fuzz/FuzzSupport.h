#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "expressions/BExpressionMetaData.h"
#include "jcompat/File.h"
#include "testsupport/ProfileFixture.h"

// Set-up shared by the fuzz targets: the project's lookup table and profiles,
// and a scratch directory for inputs that the code under test reads as files.
namespace ferrow::fuzz {

inline std::string profilePath(const std::string& name) { return std::string(FERROW_SOURCE_DIR) + "/profiles/" + name; }

// A profile's way and node contexts parsed against a lookup table, as the
// profile cache builds them.
struct Profile {
    Profile(const std::string& lookupsFile, const std::string& profileFile) {
        node.setForeignContext(&way);
        meta.readMetaData(jcompat::File(lookupsFile));
        way.parseFile(jcompat::File(profileFile), "global");
        node.parseFile(jcompat::File(profileFile), "global");
    }

    expressions::BExpressionMetaData meta;
    // A small evaluation cache, so that its evictions run too.
    expressions::BExpressionContextWay way{64, meta};
    expressions::BExpressionContextNode node{0, meta};
};

using TagList = std::initializer_list<std::pair<const char*, const char*>>;

// The tag set's bytes in the context's codes; tags or values the lookup table
// does not know are left out.
inline util::ByteArray tagSet(const expressions::BExpressionContext& context, TagList tags) {
    std::vector<std::pair<int, int>> codes;
    for (const auto& [name, value] : tags) {
        const int tag = context.getLookupNameIdx(name);
        const int valueIdx = tag < 0 ? -1 : context.getLookupValueIdx(tag, value);
        if (valueIdx >= 0) codes.emplace_back(tag, valueIdx);
    }
    std::sort(codes.begin(), codes.end());
    return expressions::testing::encodeTags(codes);
}

// Evaluates the profile on a few fixed way and node tag sets, both
// directions, and reads every output and the tag descriptions.
inline void evaluateFixedTags(Profile& profile) {
    const TagList ways[] = {
        {},
        {{"highway", "residential"}, {"surface", "asphalt"}, {"maxspeed", "30"}},
        {{"highway", "primary"}, {"oneway", "yes"}, {"bridge", "yes"}},
        {{"highway", "track"}, {"tracktype", "grade3"}, {"surface", "gravel"}, {"access", "no"}},
        {{"highway", "footway"}, {"bicycle", "yes"}, {"incline", "-12"}, {"estimated_forest_class", "2"}},
        {{"highway", "cycleway"}, {"oneway", "-1"}, {"smoothness", "bad"}, {"route", "ferry"}},
        {{"highway", "path"}, {"sac_scale", "alpine_hiking"}, {"mtb:scale", "3"}, {"lit", "yes"}},
    };
    for (const TagList& tags : ways) {
        const util::ByteArray bytes = tagSet(profile.way, tags);
        profile.way.accessType(bytes);
        for (const bool reverse : {false, true}) {
            profile.way.evaluate(reverse, bytes);
            for (int slot = 0; slot < profile.way.getOutputSlotCount(); ++slot) profile.way.getOutput(slot);
            profile.way.getKeyValueDescription(reverse, bytes.span());
        }
    }
    const TagList nodes[] = {{}, {{"barrier", "gate"}}, {{"highway", "traffic_signals"}, {"crossing", "zebra"}}};
    for (const TagList& tags : nodes) {
        const util::ByteArray bytes = tagSet(profile.node, tags);
        profile.node.evaluate(false, bytes);
        for (int slot = 0; slot < profile.node.getOutputSlotCount(); ++slot) profile.node.getOutput(slot);
    }
}

// A directory of this process under the temporary directory, removed at exit.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ferrow-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // Writes the bytes as file `name`, replacing an earlier one; its path.
    std::string write(const std::string& name, std::string_view bytes) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace ferrow::fuzz
