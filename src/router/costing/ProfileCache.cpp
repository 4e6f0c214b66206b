#include "router/costing/ProfileCache.h"

#include <new>
#include <utility>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"
#include "router/costing/RoutingContext.h"
#include "util/ProcessState.h"

namespace ferrow::router {

namespace {

// The directory part of a profile path: up to its last "/" ("/" for a file in
// the root), or "." for a bare file name.
std::string profileDirectory(const std::string& profilePath) {
    const std::size_t slash = profilePath.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return profilePath.substr(0, slash);
}

} // namespace

ProfileCache::State& ProfileCache::state() {
    // Shared by all requests without a lock: the service runs one at a time.
    static State& cacheState = []() -> State& {
        static State kept;
        util::ProcessState::enrol([] { kept = State(); });
        return kept;
    }();
    return cacheState;
}

std::int64_t ProfileCache::profileKey(std::int64_t lastModified, const expressions::VariableOverrides* keyValues) {
    std::int64_t sum = 0;
    if (keyValues != nullptr) {
        for (const auto& [key, value] : *keyValues) {
            const std::int32_t pairHash =
                jcompat::wrapAdd(jcompat::JString::hashCode(key), jcompat::JString::hashCode(value));
            sum = jcompat::wrapAdd(sum, std::int64_t{pairHash});
        }
    }
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(jcompat::wrapAdd(lastModified, sum)) << 24);
}

bool ProfileCache::sameOverrides(const expressions::VariableOverrides& cached,
                                 const expressions::VariableOverrides* requested) {
    const std::size_t requestedCount = requested != nullptr ? requested->size() : 0;
    if (cached.size() != requestedCount) return false;
    // Each variable is assigned once, so the order of the overrides does not matter.
    for (const auto& [key, value] : cached) {
        const std::string* other = requested->get(key);
        if (other == nullptr || *other != value) return false;
    }
    return true;
}

bool ProfileCache::parseProfile(RoutingContext& rc) {
    if (!rc.profilePath) {
        throw jcompat::IllegalStateException("no profile path set");
    }
    State& cache = state();
    const jcompat::File profileFile(*rc.profilePath);
    const expressions::VariableOverrides* keyValues = rc.keyValues ? &*rc.keyValues : nullptr;
    const std::int64_t profileLastModified = profileFile.lastModified();
    rc.profileTimestamp = profileKey(profileLastModified, keyValues);

    const jcompat::File profileDir(profileDirectory(*rc.profilePath));
    const jcompat::File lookupFile(&profileDir, "lookups.dat");
    const std::int64_t lookupTimestamp = lookupFile.lastModified();
    if (!cache.lastLookupFile || *cache.lastLookupFile != lookupFile.getPath() ||
        lookupTimestamp != cache.lastLookupTimestamp) {
        for (std::optional<Entry>& slot : cache.entries) slot.reset();
        cache.lastLookupFile = lookupFile.getPath();
        cache.lastLookupTimestamp = lookupTimestamp;
    }

    std::optional<std::size_t> freeSlot;
    std::optional<Entry>* reuse = nullptr;
    for (std::size_t i = 0; i < cache.entries.size(); ++i) {
        std::optional<Entry>& slot = cache.entries[i];
        if (!slot) {
            if (!freeSlot) freeSlot = i;
            continue;
        }
        Entry& entry = *slot;
        if (!entry.isUsed && entry.profileFilePath == profileFile.getPath()) {
            // The overrides themselves, not just the key's sum of their hashes:
            // different overrides with equal sums must not share a parse.
            if (entry.profileTimestamp == rc.profileTimestamp && entry.profileLastModified == profileLastModified &&
                sameOverrides(entry.keyValues, keyValues)) {
                rc.profile = entry.profile;
                rc.expctxWay = &entry.profile->way;
                rc.expctxNode = &entry.profile->node;
                rc.readGlobalConfig();
                entry.isUsed = true;
                return true;
            }
            // a stale entry of this profile: its slot is taken over
            reuse = &slot;
            freeSlot.reset();
            break;
        }
        if (reuse == nullptr || entry.lastUseTime < (*reuse)->lastUseTime) reuse = &slot;
    }

    auto profile = std::make_shared<ParsedProfile>(rc.memoryClass * 512);
    rc.profile = profile;
    rc.expctxWay = &profile->way;
    rc.expctxNode = &profile->node;
    profile->way.setDecodeForbidden(true);
    profile->node.setForeignContext(&profile->way);
    try {
        profile->meta.readMetaData(lookupFile);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const jcompat::Throwable& failure) {
        throw jcompat::RuntimeException(failure.toString());
    }
    profile->way.parseFile(profileFile, "global", keyValues);
    profile->node.parseFile(profileFile, "global", keyValues);
    // Kept as requested: the cost model records the values it used among the
    // context's overrides, which a later request with the same ones lacks.
    expressions::VariableOverrides requestedOverrides =
        keyValues != nullptr ? *keyValues : expressions::VariableOverrides();
    rc.readGlobalConfig();
    if (rc.processUnusedTags) profile->way.setAllTagsUsed();

    std::optional<Entry>& slot = (reuse != nullptr && !freeSlot) ? *reuse : cache.entries[*freeSlot];
    slot = Entry{std::move(profile),
                 profileFile.getPath(),
                 rc.profileTimestamp,
                 profileLastModified,
                 std::move(requestedOverrides),
                 jcompat::currentTimeMillis(),
                 true};
    return false;
}

void ProfileCache::releaseProfile(RoutingContext& rc) {
    for (std::optional<Entry>& slot : state().entries) {
        if (slot && rc.profile != nullptr && slot->profile == rc.profile) {
            slot->isUsed = false;
            break;
        }
    }
    rc.profile.reset();
    rc.expctxWay = nullptr;
    rc.expctxNode = nullptr;
}

} // namespace ferrow::router
