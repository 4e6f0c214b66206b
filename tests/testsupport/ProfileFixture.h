#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "expressions/BExpressionMetaData.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "util/BitCoderContext.h"
#include "util/ByteArray.h"

namespace ferrow::expressions::testing {

// A directory of its own under the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "expr-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string write(const std::string& name, const std::string& text) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The lookup table most tests use: small enough to work out tag-set codes by hand.
inline const char* kSmallLookups =
    "---lookupversion:10\n"
    "---minorversion:3\n"
    "---context:way\n"
    "highway residential\n"
    "highway primary\n"
    "highway track\n"
    "highway footway\n"
    "highway cycleway\n"
    "highway service\n"
    "highway motorway\n"
    "highway steps\n"
    "oneway yes true 1\n"
    "oneway -1 reverse\n"
    "maxspeed 30\n"
    "maxspeed 50\n"
    "maxspeed none\n"
    "surface asphalt\n"
    "surface gravel\n"
    "---context:node\n"
    "barrier gate\n"
    "barrier bollard\n"
    "highway traffic_signals\n";

// Way and node contexts of one profile, read the way the profile cache reads them.
struct LoadedProfile {
    BExpressionMetaData meta;
    std::unique_ptr<BExpressionContextWay> way;
    std::unique_ptr<BExpressionContextNode> node;

    LoadedProfile(const std::string& lookupsFile, int cacheSize = 64) {
        way = std::make_unique<BExpressionContextWay>(cacheSize, meta);
        node = std::make_unique<BExpressionContextNode>(0, meta);
        node->setForeignContext(way.get());
        meta.readMetaData(jcompat::File(lookupsFile));
    }

    void parse(const std::string& profileFile, const VariableOverrides* overrides = nullptr) {
        way->parseFile(jcompat::File(profileFile), "global", overrides);
        node->parseFile(jcompat::File(profileFile), "global", overrides);
    }
};

// Codes a tag set of (tag index, value index) pairs, ascending by tag index.
inline util::ByteArray encodeTags(const std::vector<std::pair<int, int>>& tags) {
    std::vector<util::Byte> buffer(256);
    auto writer = util::BitCoderContext::writer(buffer);
    int lastTag = 0;
    for (const auto& [tag, value] : tags) {
        writer.encodeVarBits(tag - lastTag);
        writer.encodeVarBits(value == 1 ? 7 : (value <= 8 ? value - 2 : value - 1));
        lastTag = tag;
    }
    writer.encodeVarBits(0);
    const int length = writer.flushAndGetLength();
    return util::ByteArray::copyOf(std::span<const util::Byte>(buffer.data(), length));
}

// Codes a tag set given by names and value texts of a context.
inline util::ByteArray encodeTags(const BExpressionContext& ctx,
                                  const std::vector<std::pair<std::string, std::string>>& tags) {
    std::vector<std::pair<int, int>> indexes;
    for (const auto& [name, value] : tags) {
        const int tag = ctx.getLookupNameIdx(name);
        const int valueIdx = ctx.getLookupValueIdx(tag, value);
        if (tag < 0 || valueIdx < 0) {
            throw std::invalid_argument("no code for " + name + "=" + value);
        }
        indexes.emplace_back(tag, valueIdx);
    }
    std::sort(indexes.begin(), indexes.end());
    return encodeTags(indexes);
}

inline util::ByteArray bytesOf(std::initializer_list<int> bytes) {
    std::vector<util::Byte> data;
    for (int b : bytes) {
        data.push_back(static_cast<util::Byte>(b));
    }
    return util::ByteArray::copyOf(data);
}

} // namespace ferrow::expressions::testing

namespace ferrow::expressions::testing {

// A profile written from text next to the small lookup table, parsed into
// way and node contexts.
class ProfileFromText {
public:
    explicit ProfileFromText(const std::string& profileText, const VariableOverrides* overrides = nullptr,
                             int cacheSize = 64, const char* lookups = kSmallLookups) {
        lookupsFile_ = dir_.write("lookups.dat", lookups);
        profileFile_ = dir_.write("test.vpf", profileText);
        profile_ = std::make_unique<LoadedProfile>(lookupsFile_, cacheSize);
        profile_->parse(profileFile_, overrides);
    }

    BExpressionContextWay& way() { return *profile_->way; }
    BExpressionContextNode& node() { return *profile_->node; }

    // Evaluates the way context for tags given by name and reads a variable's output.
    float wayOutput(const std::string& variable, const std::vector<std::pair<std::string, std::string>>& tags = {},
                    bool reverse = false) {
        const int slot = way().getOutputVariableIndex(variable, false);
        way().evaluate(reverse, encodeTags(way(), tags));
        return way().getOutput(slot);
    }

private:
    TempDir dir_;
    std::string lookupsFile_;
    std::string profileFile_;
    std::unique_ptr<LoadedProfile> profile_;
};

// The message of the failure that parsing a profile text raises.
template <typename Exception = jcompat::IllegalArgumentException>
std::string parseFailure(const std::string& profileText, const VariableOverrides* overrides = nullptr) {
    try {
        ProfileFromText profile(profileText, overrides);
    } catch (const Exception& e) {
        return e.getMessage();
    }
    return "(no failure)";
}

} // namespace ferrow::expressions::testing
