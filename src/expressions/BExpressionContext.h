#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "expressions/BExpression.h"
#include "expressions/BExpressionLookupValue.h"
#include "expressions/CacheNode.h"
#include "expressions/VarWrapper.h"
#include "jcompat/LinkedHashMap.h"
#include "util/ByteArray.h"
#include "util/IByteArrayUnifier.h"
#include "util/LruMap.h"

namespace ferrow::jcompat {
class BufferedReader;
class File;
} // namespace ferrow::jcompat

namespace ferrow::expressions {

class BExpressionMetaData;

// Request overrides of profile variables, in request order: name and number text.
using VariableOverrides = jcompat::LinkedHashMap<std::string, std::string>;

// A parsed profile section for one context ("way" or "node"): the lookup
// table's tags and values for the context, the profile's variables and
// statements, and the evaluation of the statements for one tag set, with an
// evaluation cache keyed by tag set (way context only).
class BExpressionContext : public util::IByteArrayUnifier {
public:
    // Registers itself in `meta` under `context`; a cache size of 0 means no
    // evaluation cache (the node context).
    BExpressionContext(std::string context, int hashSize, BExpressionMetaData& meta);
    ~BExpressionContext() override;
    BExpressionContext(const BExpressionContext&) = delete;
    BExpressionContext& operator=(const BExpressionContext&) = delete;

    const std::string& context() const { return context_; }

    // ---- lookup table ----

    virtual void parseMetaLine(const std::string& line);
    virtual void finishMetaParsing();
    // Registers a tag and a value; the new value object when the value was
    // added, null when it was known already or the tag is full.
    BExpressionLookupValue* addLookupValue(const std::string& name, const std::string& value);
    int getLookupNameIdx(std::string_view name) const;
    int getLookupKey(std::string_view name) const { return getLookupNameIdx(name); }
    // Value text only (aliases are not consulted); -1 when none matches.
    int getLookupValueIdx(int nameIdx, std::string_view value) const;
    // A zero-filled array with one entry per tag, or nothing before finishMetaParsing.
    std::optional<std::vector<int>> createNewLookupData() const;
    int lookupTagCount() const { return static_cast<int>(lookupNames_.size()); }
    const std::string& lookupName(int nameIdx) const { return lookupNames_.at(nameIdx); }
    const std::vector<BExpressionLookupValue>& lookupValues(int nameIdx) const { return lookupValues_.at(nameIdx); }
    // The value indexes as last written by a tag line or by decoding.
    std::span<const int> lookupData() const { return lookupData_; }

    // ---- profile ----

    // Reads the profile: with `readOnlyContext` first that section (with the
    // overrides), evaluated once and read-only afterwards, then this context's
    // own section.
    void parseFile(const jcompat::File& file, const char* readOnlyContext,
                   const VariableOverrides* keyValues = nullptr);
    // The next token of the current section, or nothing at the end of the file.
    std::optional<std::string> parseToken();
    int getVariableIdx(const std::string& name, bool create);
    float getVariableValue(const std::string& name, float defaultValue) const;
    float getVariableValue(int variableIdx) const;
    int getOutputVariableIndex(const std::string& name, bool mustExist);
    int getForeignVariableIdx(const std::string& context, const std::string& name);
    float getForeignVariableValue(int slot) const;
    void setForeignContext(BExpressionContext* foreignContext) { foreignContext_ = foreignContext; }
    int getMinWriteIdx() const { return minWriteIdx_; }
    void assign(int variableIdx, float value);
    // The text of the profile's "---model:" token, when it has one.
    const std::optional<std::string>& getModelClass() const { return modelClass_; }
    virtual std::span<const std::string> getBuildInVariableNames() const = 0;
    int getOutputSlotCount() const { return static_cast<int>(outputSlots_.size()); }

    // ---- tag sets and evaluation ----

    // Fills lookupData with one value index per tag from the tag-value bytes;
    // damaged bytes raise an exception, never a read outside the bytes.
    void decode(std::span<int> lookupData, bool inverseDirection, std::span<const util::Byte> bytes) const;
    // Evaluates the statements for a tag set and direction; the outputs are
    // then read with getOutput. Inline: the search evaluates every link it
    // prices, nearly always a tag set whose shared array the cache has seen.
    void evaluate(bool inverseDirection, const util::ByteArray& tagBytes) {
        if (!entryBySharedArray_.empty()) {
            CacheNode* entry = entryBySharedArray_[sharedArraySlot(tagBytes)];
            if (entry != nullptr && entry->ab.isSameAs(tagBytes)) [[likely]] {
                useCacheEntry(entry, inverseDirection);
                return;
            }
        }
        evaluateSlowly(inverseDirection, tagBytes);
    }
    // Output slot `slot` of the last evaluation.
    float getOutput(int slot) const {
        if (resultVector_ == nullptr || static_cast<unsigned>(slot) >= outputSlots_.size()) {
            throwNoOutput(slot);
        }
        return resultVector_[resultOffset_ + slot];
    }
    // Every output slot of the last evaluation at once, for readers of many.
    std::span<const float> getOutputs() const {
        if (resultVector_ == nullptr) throwNoOutput(0);
        return {resultVector_ + resultOffset_, outputSlots_.size()};
    }
    // What the outputs of the last evaluation are: two evaluations with equal
    // identities left equal outputs, so a reader may keep what it derived
    // from them. A context without cache gives none (a null address).
    struct OutputsIdentity {
        const float* outputs = nullptr;
        std::uint64_t generation = 0;
        bool operator==(const OutputsIdentity&) const = default;
    };
    OutputsIdentity outputsIdentity() const noexcept {
        return {cache_ != nullptr && resultVector_ != nullptr ? resultVector_ + resultOffset_ : nullptr,
                outputsGeneration_};
    }
    std::string getKeyValueDescription(bool inverseDirection, std::span<const util::Byte> bytes);
    float getLookupValue(int nameIdx) const;
    float getLookupMatch(int nameIdx, std::span<const int> valueIdxArray) const;
    void setInverseVars() { resultOffset_ = static_cast<int>(outputSlots_.size()); }

    // The cached tag set equal to the slice, or a new copy of it; needs the
    // evaluation cache.
    util::ByteArray unify(std::span<const util::Byte> slice) override;
    bool checkStartWay(const util::ByteArray& tagBytes);
    bool isLookupIdxUsed(int nameIdx) const {
        return nameIdx >= 0 && static_cast<std::size_t>(nameIdx) < lookupIdxUsed_.size() &&
               lookupIdxUsed_[nameIdx] != 0;
    }
    std::span<const std::uint8_t> lookupIdxUsedTable() const { return lookupIdxUsed_; }
    // Marks every tag as used, so that tile decoding keeps them all.
    void setAllTagsUsed();
    void freeNoWays() { noStartWays_.clear(); }
    std::span<const int> noStartWays() const { return noStartWays_; }

    // Tag sets and distinct output vectors held by the evaluation cache.
    int cachedTagSetCount() const;
    int cachedResultVectorCount() const;

protected:
    bool hasCache() const { return cache_ != nullptr; }
    // Changes whenever a used flag does.
    std::uint32_t usedFlagsVersion() const noexcept { return usedFlagsVersion_; }
    const float* currentResultVector() const { return resultVector_; }

private:
    friend class BExpression;

    static constexpr int START_WAY_SCRATCH_SIZE = 512;
    static constexpr int SHARED_ARRAY_SLOT_BITS = 10;

    BExpression* newExpression();
    BExpression*& lastAssignedExpression(int variableIdx);
    void setLookupIdxUsed(int nameIdx);

    std::vector<BExpression*> parseFileSection(const jcompat::File& file, const VariableOverrides* keyValues);
    void parseFileOrThrow(const jcompat::File& file, const char* readOnlyContext, const VariableOverrides* keyValues);
    std::optional<std::string> parseRawToken();
    void examineComment(const std::string& comment);

    void runStatements(float* outputs);
    void evaluateSlowly(bool inverseDirection, const util::ByteArray& tagBytes);
    void useCacheEntry(CacheNode* entry, bool inverseDirection) {
        cache_->moveToMostRecent(entry);
        resultVector_ = entry->outputs;
        // Masked, not branched: the direction of the links priced in turn is as good as random.
        resultOffset_ = static_cast<int>(outputSlots_.size()) & -static_cast<int>(inverseDirection);
    }
    std::size_t sharedArraySlot(const util::ByteArray& tagBytes) const noexcept {
        // Fibonacci hashing of the array's address; blocks are 16-byte aligned.
        const auto address = reinterpret_cast<std::uintptr_t>(tagBytes.data());
        return static_cast<std::size_t>((std::uint64_t{address >> 4} * 0x9E3779B97F4A7C15ULL) >>
                                        (64 - SHARED_ARRAY_SLOT_BITS));
    }
    void evaluateUncached(bool inverseDirection, std::span<const util::Byte> bytes);
    std::shared_ptr<const std::vector<float>> evaluateBothDirections(const util::ByteArray& tagBytes);
    void invalidateOutputs();
    void startOutputsGeneration();
    void resetCaches();
    [[noreturn]] void throwNoOutput(int slot) const;

    std::string context_;

    // lookup table
    std::unordered_map<std::string, int> lookupNumbers_;
    std::vector<std::string> lookupNames_;
    std::vector<std::vector<BExpressionLookupValue>> lookupValues_;
    std::vector<int> lookupData_;
    std::vector<std::uint8_t> lookupIdxUsed_;
    std::uint32_t usedFlagsVersion_ = 0;
    int metaLineCount_ = 0;
    bool fixedTagRegistered_ = false;
    bool metaDone_ = false;

    // profile tokenizer
    std::unique_ptr<jcompat::BufferedReader> reader_;
    std::optional<std::string> currentLine_;
    std::size_t linePosition_ = 0;
    int lineNumber_ = 1;
    bool readerDone_ = false;
    bool inOurContext_ = false;
    std::optional<std::string> modelClass_;

    // variables and statements
    std::deque<BExpression> expressionArena_;
    std::unordered_map<std::string, int> variableNumbers_;
    std::vector<BExpression*> lastAssignedExpressions_;
    std::vector<float> variableData_;
    std::vector<BExpression*> expressionList_;
    int minWriteIdx_ = 0;
    std::vector<int> outputSlots_;
    BExpressionContext* foreignContext_ = nullptr;
    std::vector<int> noStartWays_;

    // evaluation
    const float* resultVector_ = nullptr;
    int resultOffset_ = 0;
    // Drawn anew, unique in the process, whenever an output vector may be
    // freed (and its memory reused for other outputs): when a full cache
    // recycles an entry, and when the cache starts afresh.
    std::uint64_t outputsGeneration_ = 0;
    std::vector<float> uncachedResult_;
    std::vector<int> startWayScratch_;

    int hashSize_;
    std::unique_ptr<util::LruMap> cache_;
    std::unique_ptr<util::LruMap> resultVarCache_;
    std::deque<CacheNode> cacheNodes_;
    std::deque<VarWrapper> varWrappers_;
    CacheNode probeCacheNode_;
    VarWrapper probeVarWrapper_;
    CacheNode* lastCacheNode_ = nullptr;
    // The cache entry last found for a tag-set array, by the array's address
    // (a direct-mapped index in front of the CRC look-up). An entry holds its
    // array, so an entry that still holds the very array asked for is the one
    // the look-up would find: equal tag sets are never cached twice. Entries
    // recycled for other tag sets just miss.
    std::vector<CacheNode*> entryBySharedArray_;
};

} // namespace ferrow::expressions
