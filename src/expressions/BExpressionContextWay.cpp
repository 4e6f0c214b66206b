#include "expressions/BExpressionContextWay.h"

#include <array>
#include <atomic>

namespace ferrow::expressions {

namespace {

const std::array<std::string, 20> kWayVariableNames = {
    "costfactor",        "turncost",          "uphillcostfactor",     "downhillcostfactor", "initialcost",
    "nodeaccessgranted", "initialclassifier", "trafficsourcedensity", "istrafficbackbone",  "priorityclassifier",
    "classifiermask",    "maxspeed",          "uphillcost",           "downhillcost",       "uphillcutoff",
    "downhillcutoff",    "uphillmaxslope",    "downhillmaxslope",     "uphillmaxslopecost", "downhillmaxslopecost",
};

} // namespace

std::span<const std::string> BExpressionContextWay::getBuildInVariableNames() const { return kWayVariableNames; }

int BExpressionContextWay::accessType(const util::ByteArray& tagBytes) {
    return accessTypeOfClass(accessClass(tagBytes));
}

int BExpressionContextWay::accessClass(const util::ByteArray& tagBytes) {
    evaluate(false, tagBytes);
    float minCostfactor = getCostfactor();
    if (minCostfactor >= 9999.0f) {
        // Both directions are cached together; without a cache, evaluate again.
        float reverseCostfactor;
        if (hasCache()) {
            reverseCostfactor = currentResultVector()[getOutputSlotCount() + COSTFACTOR];
        } else {
            evaluate(true, tagBytes);
            reverseCostfactor = getCostfactor();
        }
        if (reverseCostfactor < minCostfactor) {
            minCostfactor = reverseCostfactor;
        }
    }
    if (minCostfactor < 9999.0f) {
        return 2;
    }
    return minCostfactor < 10000.0f ? 1 : 0;
}

FilteredTagSet BExpressionContextWay::filterTagSet(const RawTagSet& raw) {
    if (filteredUsedFlagsVersion_ != usedFlagsVersion()) {
        filtered_.clear();
        filteredUsedFlagsVersion_ = usedFlagsVersion();
    }
    const FilteredTagSetCache::Entry* entry = filtered_.find(raw.pairs, raw.hash);
    if (entry == nullptr) {
        util::ByteArray tags = keepUsedTags(raw.pairs);
        const int kept = tags ? accessClass(tags) : 0;
        entry = &filtered_.insert(raw.pairs, raw.hash, std::move(tags), kept);
    }
    return FilteredTagSet{entry->tags, accessTypeOfClass(entry->accessClass)};
}

std::uint64_t BExpressionContextWay::nextSerial() noexcept {
    static std::atomic<std::uint64_t> serials{0};
    return serials.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint64_t BExpressionContextWay::filterIdentity() const noexcept {
    // 30 bits of serial, 32 of used-tags version, 1 of the switch; beyond
    // 2^30 contexts nothing is kept.
    if (serial_ >= (std::uint64_t{1} << 30)) return 0;
    return serial_ << 33 | std::uint64_t{usedFlagsVersion()} << 1 | (decodeForbidden_ ? 1U : 0U);
}

} // namespace ferrow::expressions
