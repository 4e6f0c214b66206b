#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "expressions/BExpressionContext.h"
#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "expressions/BExpressionMetaData.h"

namespace ferrow::router {

class RoutingContext;

// The parsed way and node contexts of one profile, with the lookup metadata
// they were registered in (declared first: the contexts refer to it).
struct ParsedProfile {
    explicit ParsedProfile(int wayCacheSize) : way(wayCacheSize, meta), node(0, meta) {}

    expressions::BExpressionMetaData meta;
    expressions::BExpressionContextWay way;
    expressions::BExpressionContextNode node;
};

// Keeps the last parsed profile between requests (one process-wide slot), so
// that a request with the same profile file, the same last-modified time, the
// same overrides and an unchanged "lookups.dat" skips parsing.
class ProfileCache {
public:
    static constexpr std::size_t SLOT_COUNT = 1;

    // Gives rc its way and node contexts, from the cache or freshly parsed,
    // sets rc.profileTimestamp and reads the profile's global parameters into
    // rc (RoutingContext::readGlobalConfig). True when cached contexts were reused.
    static bool parseProfile(RoutingContext& rc);

    // Marks rc's entry free for the next request and detaches the contexts from rc.
    static void releaseProfile(RoutingContext& rc);

    // The cache key: (the profile's last-modified time + the sum of the
    // overrides' key and value hashes) << 24, wrapping. Also what a stored
    // reference track is checked against.
    static std::int64_t profileKey(std::int64_t lastModified, const expressions::VariableOverrides* keyValues);

private:
    struct Entry {
        std::shared_ptr<ParsedProfile> profile;
        std::string profileFilePath;
        std::int64_t profileTimestamp = 0;
        // The key folds these two into one sum, in which different overrides
        // can collide; they are kept to compare them for real.
        std::int64_t profileLastModified = 0;
        expressions::VariableOverrides keyValues;
        std::int64_t lastUseTime = 0;
        bool isUsed = false;
    };

    struct State {
        std::array<std::optional<Entry>, SLOT_COUNT> entries;
        std::optional<std::string> lastLookupFile;
        std::int64_t lastLookupTimestamp = 0;
    };

    static State& state();
    static bool sameOverrides(const expressions::VariableOverrides& cached,
                              const expressions::VariableOverrides* requested);
};

} // namespace ferrow::router
