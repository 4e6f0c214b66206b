#include "expressions/BExpressionContextWay.h"

#include <array>

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

} // namespace ferrow::expressions
