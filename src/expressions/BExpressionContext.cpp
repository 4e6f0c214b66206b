#include "expressions/BExpressionContext.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>

#include "expressions/BExpressionMetaData.h"
#include "jcompat/BufferedReader.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"
#include "jcompat/StringTokenizer.h"
#include "jcompat/Utf8.h"
#include "util/BitCoderContext.h"
#include "util/Crc32.h"
#include "util/ScopeExit.h"

namespace ferrow::expressions {

using jcompat::IllegalArgumentException;
using jcompat::IllegalStateException;
using jcompat::JString;

namespace {

constexpr int kMaxValuesPerTag = 500;
constexpr int kResultVectorCacheSize = 4096;
constexpr std::string_view kModelTag = "---model:";

// Output generations of all contexts, so that no two share one.
std::atomic<std::uint64_t> lastOutputsGeneration{0};

// The white space that separates profile tokens. The no-break spaces
// (U+00A0, U+2007, U+202F) are part of tokens.
bool isProfileWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x1680 || (c >= 0x2000 && c <= 0x2006) ||
           (c >= 0x2008 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x205F || c == 0x3000;
}

// Closes the profile reader however a pass ends.
struct ReaderReset {
    std::unique_ptr<jcompat::BufferedReader>& reader;
    ~ReaderReset() {
        if (reader) {
            reader->close();
            reader.reset();
        }
    }
};

} // namespace

BExpressionContext::BExpressionContext(std::string context, int hashSize, BExpressionMetaData& meta)
    : context_(std::move(context)), hashSize_(std::max(hashSize, 0)) {
    startWayScratch_.assign(START_WAY_SCRATCH_SIZE, 0);
    resetCaches();
    meta.registerListener(context_, this);
}

BExpressionContext::~BExpressionContext() = default;

// ---------------------------------------------------------------- lookup table

void BExpressionContext::parseMetaLine(const std::string& line) {
    ++metaLineCount_;
    jcompat::StringTokenizer tokens(line, " ");
    std::string name = tokens.nextToken();
    if (const std::size_t semicolon = name.find(';'); semicolon != std::string::npos) {
        name.resize(semicolon);
    }
    const std::string value = tokens.nextToken();

    if (!fixedTagRegistered_) {
        fixedTagRegistered_ = true;
        if (context_ == "way") {
            addLookupValue("reversedirection", "yes");
        } else if (context_ == "node") {
            addLookupValue("nodeaccessgranted", "yes");
        }
    }
    if (name == "reversedirection" || name == "nodeaccessgranted") {
        return;
    }
    if (BExpressionLookupValue* newValue = addLookupValue(name, value)) {
        while (tokens.hasMoreTokens()) {
            newValue->addAlias(tokens.nextToken());
        }
    }
}

BExpressionLookupValue* BExpressionContext::addLookupValue(const std::string& name, const std::string& value) {
    int nameIdx;
    if (auto found = lookupNumbers_.find(name); found != lookupNumbers_.end()) {
        nameIdx = found->second;
    } else {
        nameIdx = static_cast<int>(lookupNames_.size());
        lookupNumbers_.emplace(name, nameIdx);
        lookupNames_.push_back(name);
        lookupValues_.push_back({BExpressionLookupValue(""), BExpressionLookupValue("unknown")});
        lookupData_.push_back(0);
    }

    std::vector<BExpressionLookupValue>& values = lookupValues_[nameIdx];
    BExpressionLookupValue* added = nullptr;
    int valueIdx = 0;
    while (valueIdx < static_cast<int>(values.size()) && !values[valueIdx].matches(value)) {
        ++valueIdx;
    }
    if (valueIdx == static_cast<int>(values.size())) {
        if (static_cast<int>(values.size()) >= kMaxValuesPerTag) {
            return nullptr;
        }
        values.emplace_back(value);
        added = &values.back();
    }
    lookupData_[nameIdx] = valueIdx;
    return added;
}

void BExpressionContext::finishMetaParsing() {
    if (metaLineCount_ == 0 && context_ != "global") {
        throw IllegalArgumentException("lookup table does not contain data for context " + context_ +
                                       " (old version?)");
    }
    metaDone_ = true;
    lookupIdxUsed_.assign(lookupNames_.size(), 0);
    ++usedFlagsVersion_;
}

int BExpressionContext::getLookupNameIdx(std::string_view name) const {
    auto found = lookupNumbers_.find(std::string(name));
    return found == lookupNumbers_.end() ? -1 : found->second;
}

int BExpressionContext::getLookupValueIdx(int nameIdx, std::string_view value) const {
    const std::vector<BExpressionLookupValue>& values = lookupValues_.at(nameIdx);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i].equals(value)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<std::vector<int>> BExpressionContext::createNewLookupData() const {
    if (!metaDone_) {
        return std::nullopt;
    }
    return std::vector<int>(lookupNames_.size(), 0);
}

void BExpressionContext::setLookupIdxUsed(int nameIdx) {
    if (static_cast<std::size_t>(nameIdx) >= lookupIdxUsed_.size()) {
        throw IllegalStateException("lookup table not finished for context " + context_);
    }
    if (lookupIdxUsed_[nameIdx] == 0) {
        lookupIdxUsed_[nameIdx] = 1;
        ++usedFlagsVersion_;
    }
}

void BExpressionContext::setAllTagsUsed() {
    std::fill(lookupIdxUsed_.begin(), lookupIdxUsed_.end(), 1);
    ++usedFlagsVersion_;
}

// ---------------------------------------------------------------- profile

BExpression* BExpressionContext::newExpression() { return &expressionArena_.emplace_back(); }

BExpression*& BExpressionContext::lastAssignedExpression(int variableIdx) {
    if (static_cast<std::size_t>(variableIdx) >= lastAssignedExpressions_.size()) {
        lastAssignedExpressions_.resize(variableIdx + 1, nullptr);
    }
    return lastAssignedExpressions_[variableIdx];
}

int BExpressionContext::getVariableIdx(const std::string& name, bool create) {
    if (auto found = variableNumbers_.find(name); found != variableNumbers_.end()) {
        return found->second;
    }
    if (!create) {
        return -1;
    }
    const int idx = static_cast<int>(variableNumbers_.size());
    variableNumbers_.emplace(name, idx);
    return idx;
}

float BExpressionContext::getVariableValue(const std::string& name, float defaultValue) const {
    auto found = variableNumbers_.find(name);
    if (found == variableNumbers_.end() || static_cast<std::size_t>(found->second) >= variableData_.size()) {
        return defaultValue;
    }
    return variableData_[found->second];
}

float BExpressionContext::getVariableValue(int variableIdx) const { return variableData_.at(variableIdx); }

void BExpressionContext::assign(int variableIdx, float value) { variableData_.at(variableIdx) = value; }

int BExpressionContext::getOutputVariableIndex(const std::string& name, bool mustExist) {
    const int idx = getVariableIdx(name, false);
    if (idx < 0) {
        if (mustExist) {
            throw IllegalArgumentException("unknown variable: " + name);
        }
    } else if (idx < minWriteIdx_) {
        throw IllegalArgumentException("bad access to global variable: " + name);
    }
    for (std::size_t slot = 0; slot < outputSlots_.size(); ++slot) {
        if (outputSlots_[slot] == idx) {
            return static_cast<int>(slot);
        }
    }
    outputSlots_.push_back(idx);
    invalidateOutputs();
    return static_cast<int>(outputSlots_.size()) - 1;
}

int BExpressionContext::getForeignVariableIdx(const std::string& context, const std::string& name) {
    if (foreignContext_ == nullptr || foreignContext_->context_ != context) {
        throw IllegalArgumentException("unknown foreign context: " + context);
    }
    return foreignContext_->getOutputVariableIndex(name, true);
}

float BExpressionContext::getForeignVariableValue(int slot) const {
    if (foreignContext_ == nullptr) {
        throw IllegalStateException("no foreign context set for context " + context_);
    }
    return foreignContext_->getOutput(slot);
}

void BExpressionContext::parseFile(const jcompat::File& file, const char* readOnlyContext,
                                   const VariableOverrides* keyValues) {
    if (!file.exists()) {
        throw IllegalArgumentException("profile " + file.getName() + " does not exist");
    }
    try {
        parseFileOrThrow(file, readOnlyContext, keyValues);
    } catch (const IllegalArgumentException& e) {
        throw IllegalArgumentException("ParseException " + file.getName() + " at line " + std::to_string(lineNumber_) +
                                       ": " + e.getMessage());
    } catch (const jcompat::Throwable& e) {
        throw jcompat::RuntimeException(e.toString());
    }
    if (expressionList_.empty()) {
        throw IllegalArgumentException(file.getName() + " does not contain expressions for context " + context_ +
                                       " (old version?)");
    }
}

void BExpressionContext::parseFileOrThrow(const jcompat::File& file, const char* readOnlyContext,
                                          const VariableOverrides* keyValues) {
    std::vector<float> globalValues;
    if (readOnlyContext != nullptr) {
        lineNumber_ = 1;
        std::vector<BExpression*> globalStatements;
        {
            // The global section is read under its own context name.
            std::string ownName = std::exchange(context_, readOnlyContext);
            const auto restore = util::onScopeExit([this, &ownName] { context_ = std::move(ownName); });
            globalStatements = parseFileSection(file, keyValues);
        }
        variableData_.assign(variableNumbers_.size(), 0.0f);
        for (BExpression* statement : globalStatements) {
            statement->evaluate(this);
        }
        globalValues = variableData_;
    }

    lineNumber_ = 1;
    minWriteIdx_ = static_cast<int>(globalValues.size());
    expressionList_ = parseFileSection(file, nullptr);
    lastAssignedExpressions_.clear();
    lastAssignedExpressions_.shrink_to_fit();

    std::span<const std::string> buildInNames = getBuildInVariableNames();
    outputSlots_.clear();
    for (const std::string& name : buildInNames) {
        outputSlots_.push_back(getVariableIdx(name, false));
    }
    invalidateOutputs();

    variableData_.assign(variableNumbers_.size(), 0.0f);
    std::copy(globalValues.begin(), globalValues.end(), variableData_.begin());
}

std::vector<BExpression*> BExpressionContext::parseFileSection(const jcompat::File& file,
                                                               const VariableOverrides* keyValues) {
    ReaderReset closeAtEnd{reader_};
    reader_ = std::make_unique<jcompat::BufferedReader>(jcompat::FileReader(file));
    currentLine_.reset();
    linePosition_ = 0;
    readerDone_ = false;

    std::vector<BExpression*> statements;
    if (keyValues != nullptr) {
        for (const auto& [name, value] : *keyValues) {
            const int variableIdx = getVariableIdx(name, true);
            BExpression* constant = newExpression();
            constant->typ = BExpression::OP_NUMBER;
            constant->numberValue = static_cast<float>(JString::parseDouble(value));
            constant->doNotChange = true;
            BExpression* assignment = newExpression();
            assignment->typ = BExpression::OP_ASSIGN;
            assignment->variableIdx = variableIdx;
            assignment->op1 = constant;
            lastAssignedExpression(variableIdx) = constant;
            statements.push_back(assignment);
        }
    }
    while (BExpression* statement = BExpression::parse(*this, 0)) {
        statements.push_back(statement);
    }
    return statements;
}

std::optional<std::string> BExpressionContext::parseToken() {
    for (;;) {
        std::optional<std::string> token = parseRawToken();
        if (!token) {
            return std::nullopt;
        }
        if (token->starts_with(BExpressionMetaData::CONTEXT_TAG)) {
            inOurContext_ = std::string_view(*token).substr(BExpressionMetaData::CONTEXT_TAG.size()) == context_;
        } else if (token->starts_with(kModelTag)) {
            modelClass_ = JString::trim(std::string_view(*token).substr(kModelTag.size()));
        } else if (inOurContext_) {
            return token;
        }
    }
}

std::optional<std::string> BExpressionContext::parseRawToken() {
    if (readerDone_) {
        return std::nullopt;
    }
    std::string token;
    std::string comment;
    bool inComment = false;
    for (;;) {
        if (!currentLine_) {
            currentLine_ = reader_->readLine();
            linePosition_ = 0;
            if (!currentLine_) {
                if (token.empty()) {
                    return std::nullopt;
                }
                readerDone_ = true;
                return token;
            }
        }
        char32_t c = U'\n';
        std::string_view character = "\n";
        if (linePosition_ < currentLine_->size()) {
            const std::size_t length = jcompat::decodeUtf8(*currentLine_, linePosition_, c);
            character = std::string_view(*currentLine_).substr(linePosition_, length);
            linePosition_ += length;
        } else {
            currentLine_.reset(); // every line ends with a line feed
        }
        if (c == U'\n') {
            ++lineNumber_;
        }

        if (inComment) {
            if (c == U'\r' || c == U'\n') {
                inComment = false;
                examineComment(comment);
                comment.clear();
            } else {
                comment.append(character);
            }
        } else if (isProfileWhitespace(c)) {
            if (!token.empty()) {
                return token;
            }
        } else if (c == U'#' && token.empty()) {
            inComment = true;
        } else {
            token.append(character);
        }
    }
}

// A comment "...noStartWay...|...|...|name=tag,value;tag,value" lists tag
// values on which no route may start or end.
void BExpressionContext::examineComment(const std::string& comment) {
    if (!noStartWays_.empty() || variableNumbers_.find("check_start_way") == variableNumbers_.end() ||
        comment.find("noStartWay") == std::string::npos) {
        return;
    }
    const std::vector<std::string> fields = JString::split(JString::trim(comment), "\\|");
    if (fields.size() != 4) {
        return;
    }
    const std::string& list = fields[3];
    const std::size_t equals = list.find('=');
    const std::string items = JString::trim(equals == std::string::npos ? list : list.substr(equals + 1));
    for (const std::string& item : JString::split(items, ";")) {
        const std::vector<std::string> parts = JString::split(item, ",");
        if (parts.size() < 2) {
            throw jcompat::IndexOutOfBoundsException("noStartWay item without tag and value: " + item);
        }
        const int nameIdx = getLookupNameIdx(parts[0]);
        if (nameIdx < 0) {
            break;
        }
        noStartWays_.push_back(nameIdx);
        noStartWays_.push_back(getLookupValueIdx(nameIdx, parts[1]));
    }
}

// ---------------------------------------------------------------- evaluation

void BExpressionContext::decode(std::span<int> lookupData, bool inverseDirection,
                                std::span<const util::Byte> bytes) const {
    util::BitCoderContext decoder(bytes);
    const int length = static_cast<int>(lookupData.size());
    if (length == 0) {
        return;
    }
    lookupData[0] = inverseDirection ? 2 : 0;
    // Tables newer than this one may code more tags: those end the set.
    const std::int64_t limit = std::min<std::int64_t>(length, static_cast<std::int64_t>(lookupNames_.size()));
    int i = 1;
    for (;;) {
        const std::int64_t delta = decoder.decodeVarBits();
        if (delta == 0 || i + delta - 1 >= limit) {
            std::fill(lookupData.begin() + i, lookupData.end(), 0);
            return;
        }
        const int nameIdx = static_cast<int>(i + delta - 1);
        std::fill(lookupData.begin() + i, lookupData.begin() + nameIdx, 0);
        const std::int64_t code = decoder.decodeVarBits();
        const std::int64_t valueIdx = code < 7 ? code + 2 : (code == 7 ? 1 : code + 1);
        if (valueIdx > std::numeric_limits<int>::max()) {
            throw IllegalArgumentException("corrupt tag set: value code " + std::to_string(code));
        }
        const bool known = valueIdx < static_cast<std::int64_t>(lookupValues_[nameIdx].size()) || valueIdx >= 1000;
        lookupData[nameIdx] = known ? static_cast<int>(valueIdx) : 1;
        i = nameIdx + 1;
    }
}

void BExpressionContext::runStatements(float* outputs) {
    for (const BExpression* statement : expressionList_) {
        statement->evaluate(this);
    }
    for (std::size_t slot = 0; slot < outputSlots_.size(); ++slot) {
        const int variableIdx = outputSlots_[slot];
        outputs[slot] = variableIdx < 0 ? 0.0f : variableData_[variableIdx];
    }
}

void BExpressionContext::evaluateUncached(bool inverseDirection, std::span<const util::Byte> bytes) {
    decode(lookupData_, inverseDirection, bytes);
    uncachedResult_.resize(outputSlots_.size());
    resultVector_ = nullptr; // no half-written outputs are readable after a failure
    runStatements(uncachedResult_.data());
    resultVector_ = uncachedResult_.data();
    resultOffset_ = 0;
}

std::shared_ptr<const std::vector<float>> BExpressionContext::evaluateBothDirections(const util::ByteArray& tagBytes) {
    const std::size_t slotCount = outputSlots_.size();
    if (!probeVarWrapper_.vars) {
        probeVarWrapper_.vars = std::make_shared<std::vector<float>>(2 * slotCount);
    }
    std::vector<float>& vars = *probeVarWrapper_.vars;
    decode(lookupData_, false, tagBytes.span());
    runStatements(vars.data());
    lookupData_[0] = 2;
    runStatements(vars.data() + slotCount);

    probeVarWrapper_.hash = VarWrapper::hashOf(vars);
    if (auto* found = static_cast<VarWrapper*>(resultVarCache_->get(probeVarWrapper_))) {
        return found->vars;
    }
    VarWrapper* wrapper = static_cast<VarWrapper*>(resultVarCache_->removeLru());
    if (wrapper == nullptr) {
        wrapper = &varWrappers_.emplace_back();
    } else {
        startOutputsGeneration(); // its vector may go
    }
    wrapper->hash = probeVarWrapper_.hash;
    wrapper->vars = std::move(probeVarWrapper_.vars); // the probe gets a fresh vector next time
    resultVarCache_->put(wrapper);
    return wrapper->vars;
}

void BExpressionContext::evaluateSlowly(bool inverseDirection, const util::ByteArray& tagBytes) {
    if (!tagBytes) {
        throw IllegalArgumentException("no tag set to evaluate");
    }
    if (cache_ == nullptr) {
        evaluateUncached(inverseDirection, tagBytes.span());
        return;
    }
    CacheNode* entry = nullptr;
    if (lastCacheNode_ != nullptr && lastCacheNode_->ab.isSameAs(tagBytes)) {
        entry = lastCacheNode_;
    } else {
        probeCacheNode_.ab = tagBytes;
        probeCacheNode_.hash = util::Crc32::crc(tagBytes.span());
        entry = static_cast<CacheNode*>(cache_->get(probeCacheNode_));
        probeCacheNode_.ab = util::ByteArray();
    }
    if (entry == nullptr) {
        const std::int32_t hash = probeCacheNode_.hash;
        // Evaluated before an entry is taken, so that a failing evaluation
        // leaves no entry behind.
        std::shared_ptr<const std::vector<float>> vars = evaluateBothDirections(tagBytes);
        entry = static_cast<CacheNode*>(cache_->removeLru());
        if (entry == nullptr) {
            entry = &cacheNodes_.emplace_back();
        } else {
            startOutputsGeneration(); // its vector may go
        }
        entry->hash = hash;
        entry->ab = tagBytes;
        entry->setVars(std::move(vars));
        cache_->put(entry);
    }
    entryBySharedArray_[sharedArraySlot(tagBytes)] = entry;
    useCacheEntry(entry, inverseDirection);
}

util::ByteArray BExpressionContext::unify(std::span<const util::Byte> slice) {
    if (cache_ == nullptr) {
        throw IllegalStateException("context " + context_ + " has no evaluation cache to unify with");
    }
    probeCacheNode_.ab = util::ByteArray();
    probeCacheNode_.hash = util::Crc32::crc(slice);
    auto* entry = static_cast<CacheNode*>(cache_->get(probeCacheNode_));
    if (entry != nullptr && entry->ab.contentEquals(slice)) {
        lastCacheNode_ = entry;
        return entry->ab;
    }
    return util::ByteArray::copyOf(slice);
}

bool BExpressionContext::checkStartWay(const util::ByteArray& tagBytes) {
    if (!tagBytes || noStartWays_.empty()) {
        return true;
    }
    std::fill(startWayScratch_.begin(), startWayScratch_.end(), 0);
    decode(startWayScratch_, false, tagBytes.span());
    for (std::size_t i = 0; i + 1 < noStartWays_.size(); i += 2) {
        const int nameIdx = noStartWays_[i];
        if (nameIdx < START_WAY_SCRATCH_SIZE && startWayScratch_[nameIdx] == noStartWays_[i + 1]) {
            return false;
        }
    }
    return true;
}

std::string BExpressionContext::getKeyValueDescription(bool inverseDirection, std::span<const util::Byte> bytes) {
    decode(lookupData_, inverseDirection, bytes);
    std::string description;
    for (std::size_t nameIdx = 0; nameIdx < lookupData_.size(); ++nameIdx) {
        const int valueIdx = lookupData_[nameIdx];
        const std::string text = valueIdx < 1000 ? lookupValues_[nameIdx][valueIdx].toString()
                                                 : jcompat::floatToString(static_cast<float>(valueIdx - 1000) / 100.0f);
        if (text.empty()) {
            continue;
        }
        if (!description.empty()) {
            description += ' ';
        }
        description += lookupNames_[nameIdx];
        description += '=';
        description += text;
    }
    return description;
}

float BExpressionContext::getLookupValue(int nameIdx) const {
    const int valueIdx = lookupData_[nameIdx];
    if (valueIdx == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (valueIdx > 899) {
        return static_cast<float>(valueIdx - 1000) / 100.0f;
    }
    return static_cast<float>(JString::parseDouble(lookupValues_[nameIdx][valueIdx].toString()));
}

float BExpressionContext::getLookupMatch(int nameIdx, std::span<const int> valueIdxArray) const {
    const int valueIdx = lookupData_.at(nameIdx);
    return std::find(valueIdxArray.begin(), valueIdxArray.end(), valueIdx) != valueIdxArray.end() ? 1.0f : 0.0f;
}

// Output vectors made so far have the old slot count: none may be read or
// reused, so the cache starts afresh and the next evaluation is awaited.
void BExpressionContext::invalidateOutputs() {
    startOutputsGeneration();
    resultVector_ = nullptr;
    probeVarWrapper_.vars.reset();
    if (!cacheNodes_.empty() || !varWrappers_.empty()) {
        resetCaches();
    }
}

void BExpressionContext::startOutputsGeneration() { outputsGeneration_ = ++lastOutputsGeneration; }

void BExpressionContext::resetCaches() {
    startOutputsGeneration();
    resultVector_ = nullptr;
    lastCacheNode_ = nullptr;
    probeCacheNode_.ab = util::ByteArray();
    probeVarWrapper_.vars.reset();
    cache_.reset();
    resultVarCache_.reset();
    cacheNodes_.clear();
    varWrappers_.clear();
    entryBySharedArray_.clear();
    if (hashSize_ > 0) {
        entryBySharedArray_.assign(std::size_t{1} << SHARED_ARRAY_SLOT_BITS, nullptr);
        cache_ = std::make_unique<util::LruMap>(4 * hashSize_, hashSize_);
        resultVarCache_ = std::make_unique<util::LruMap>(kResultVectorCacheSize, kResultVectorCacheSize);
    }
}

int BExpressionContext::cachedTagSetCount() const { return cache_ ? cache_->size() : 0; }
int BExpressionContext::cachedResultVectorCount() const { return resultVarCache_ ? resultVarCache_->size() : 0; }

void BExpressionContext::throwNoOutput(int slot) const {
    throw IllegalStateException("no output " + std::to_string(slot) + " in context " + context_ +
                                (resultVector_ == nullptr ? ": nothing evaluated yet" : ""));
}

} // namespace ferrow::expressions
