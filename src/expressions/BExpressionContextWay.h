#pragma once

#include "expressions/BExpressionContext.h"
#include "expressions/FilteredTagSetCache.h"
#include "expressions/TagValueValidator.h"

namespace ferrow::expressions {

// The way section of a profile; tile decoding consults it as its tag validator.
class BExpressionContextWay final : public BExpressionContext, public TagValueValidator {
public:
    // Output slots of the way context, in this order.
    static constexpr int COSTFACTOR = 0;
    static constexpr int TURNCOST = 1;
    static constexpr int UPHILLCOSTFACTOR = 2;
    static constexpr int DOWNHILLCOSTFACTOR = 3;
    static constexpr int INITIALCOST = 4;
    static constexpr int NODEACCESSGRANTED = 5;
    static constexpr int INITIALCLASSIFIER = 6;
    static constexpr int TRAFFICSOURCEDENSITY = 7;
    static constexpr int ISTRAFFICBACKBONE = 8;
    static constexpr int PRIORITYCLASSIFIER = 9;
    static constexpr int CLASSIFIERMASK = 10;
    static constexpr int MAXSPEED = 11;
    static constexpr int UPHILLCOST = 12;
    static constexpr int DOWNHILLCOST = 13;
    static constexpr int UPHILLCUTOFF = 14;
    static constexpr int DOWNHILLCUTOFF = 15;
    static constexpr int UPHILLMAXSLOPE = 16;
    static constexpr int DOWNHILLMAXSLOPE = 17;
    static constexpr int UPHILLMAXSLOPECOST = 18;
    static constexpr int DOWNHILLMAXSLOPECOST = 19;

    BExpressionContextWay(int hashSize, BExpressionMetaData& meta) : BExpressionContext("way", hashSize, meta) {}

    std::span<const std::string> getBuildInVariableNames() const override;

    float getCostfactor() const { return getOutput(COSTFACTOR); }
    float getTurncost() const { return getOutput(TURNCOST); }
    float getUphillCostfactor() const { return getOutput(UPHILLCOSTFACTOR); }
    float getDownhillCostfactor() const { return getOutput(DOWNHILLCOSTFACTOR); }
    float getInitialcost() const { return getOutput(INITIALCOST); }
    float getNodeAccessGranted() const { return getOutput(NODEACCESSGRANTED); }
    float getInitialClassifier() const { return getOutput(INITIALCLASSIFIER); }
    float getTrafficSourceDensity() const { return getOutput(TRAFFICSOURCEDENSITY); }
    float getIsTrafficBackbone() const { return getOutput(ISTRAFFICBACKBONE); }
    float getPriorityClassifier() const { return getOutput(PRIORITYCLASSIFIER); }
    float getClassifierMask() const { return getOutput(CLASSIFIERMASK); }
    float getMaxspeed() const { return getOutput(MAXSPEED); }
    float getUphillcost() const { return getOutput(UPHILLCOST); }
    float getDownhillcost() const { return getOutput(DOWNHILLCOST); }
    float getUphillcutoff() const { return getOutput(UPHILLCUTOFF); }
    float getDownhillcutoff() const { return getOutput(DOWNHILLCUTOFF); }
    float getUphillmaxslope() const { return getOutput(UPHILLMAXSLOPE); }
    float getDownhillmaxslope() const { return getOutput(DOWNHILLMAXSLOPE); }
    float getUphillmaxslopecost() const { return getOutput(UPHILLMAXSLOPECOST); }
    float getDownhillmaxslopecost() const { return getOutput(DOWNHILLMAXSLOPECOST); }

    // TagValueValidator
    int accessType(const util::ByteArray& tagBytes) override;
    bool checkStartWay(const util::ByteArray& tagBytes) override { return BExpressionContext::checkStartWay(tagBytes); }
    bool isLookupIdxUsed(int index) const override { return BExpressionContext::isLookupIdxUsed(index); }
    std::span<const std::uint8_t> lookupIdxUsedTable() const override {
        return BExpressionContext::lookupIdxUsedTable();
    }
    void setDecodeForbidden(bool decodeForbidden) override { decodeForbidden_ = decodeForbidden; }
    util::ByteArray unify(std::span<const util::Byte> slice) override { return BExpressionContext::unify(slice); }
    // Keeps its results: the filter depends only on this profile, apart from
    // the decode-forbidden switch, which is applied to the kept class.
    FilteredTagSet filterTagSet(const RawTagSet& raw) override;
    // This context (its own serial number), its used tags and the decode-forbidden switch.
    std::uint64_t filterIdentity() const noexcept override;

private:
    // 2 below a costfactor of 9999 in either direction, 1 below 10000, else 0.
    int accessClass(const util::ByteArray& tagBytes);
    static std::uint64_t nextSerial() noexcept;
    int accessTypeOfClass(int accessClass) const noexcept {
        return accessClass == 1 && !decodeForbidden_ ? 0 : accessClass;
    }

    bool decodeForbidden_ = false;
    // Unique in the process, for filterIdentity.
    std::uint64_t serial_ = nextSerial();
    FilteredTagSetCache filtered_;
    std::uint32_t filteredUsedFlagsVersion_ = 0;
};

} // namespace ferrow::expressions
