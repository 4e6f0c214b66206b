#include "codec/TagValueCoder.h"

#include <string>
#include <utility>

#include "codec/CorruptTile.h"
#include "expressions/TagValueValidator.h"

namespace ferrow::codec {

TagValueCoder::TagValueCoder(StatCoderContext& coder, DataBuffers& buffers, expressions::TagValueValidator* validator,
                             bool keepRaw)
    : coder_(&coder), buffers_(&buffers), validator_(validator), keepRaw_(keepRaw) {
    root_ = decodeTree(0);
}

std::int32_t TagValueCoder::decodeTree(std::int32_t depth) {
    if (depth > MAX_TREE_DEPTH) {
        throwCorruptTile("tag tree deeper than " + std::to_string(MAX_TREE_DEPTH));
    }
    if (!coder_->decodeSingleBit()) {
        return decodeLeaf();
    }
    const auto index = static_cast<std::int32_t>(branches_.size());
    branches_.push_back(Branch{{ABSENT, ABSENT}});
    const std::int32_t zero = decodeTree(depth + 1);
    const std::int32_t one = decodeTree(depth + 1);
    branches_[static_cast<std::size_t>(index)].child[0] = zero;
    branches_[static_cast<std::size_t>(index)].child[1] = one;
    return index;
}

std::int32_t TagValueCoder::addLeaf(TagValueWrapper leaf) {
    leaves_.push_back(std::move(leaf));
    return LEAF_BASE - static_cast<std::int32_t>(leaves_.size() - 1);
}

bool TagValueCoder::readPairs() {
    const std::size_t start = rawPairs_.size();
    for (std::int32_t step = coder_->decodeVarBits(); step != 0; step = coder_->decodeVarBits()) {
        rawPairs_.push_back(step);
        rawPairs_.push_back(coder_->decodeVarBits());
    }
    return rawPairs_.size() > start;
}

std::int32_t TagValueCoder::decodeLeaf() {
    if (validator_ == nullptr && !keepRaw_) {
        return decodeCodedLeaf();
    }
    const auto start = static_cast<std::uint32_t>(rawPairs_.size());
    if (!readPairs()) {
        return ABSENT;
    }
    const std::span<const std::int32_t> pairs = std::span<const std::int32_t>(rawPairs_).subspan(start);
    const std::uint64_t hash = expressions::RawTagSet::hashOf(pairs);
    if (keepRaw_) {
        rawLeaves_.push_back(RawLeaf{start, static_cast<std::uint32_t>(pairs.size()), hash});
        return addLeaf(TagValueWrapper{});
    }
    expressions::FilteredTagSet filtered = validator_->filterTagSet(expressions::RawTagSet{pairs, hash});
    rawPairs_.resize(start);
    if (filtered.accessType == 0) {
        return ABSENT;
    }
    return addLeaf(TagValueWrapper{std::move(filtered.tags), filtered.accessType});
}

std::int32_t TagValueCoder::decodeCodedLeaf() {
    util::BitCoderContext& out = buffers_->tagCoder;
    out.reset();
    std::int32_t step = coder_->decodeVarBits();
    if (step == 0) {
        return ABSENT;
    }
    while (step != 0) {
        const std::int32_t value = coder_->decodeVarBits();
        out.encodeVarBits(step);
        out.encodeVarBits(value);
        step = coder_->decodeVarBits();
    }
    out.encodeVarBits(0);
    const std::int32_t length = out.flushAndGetLength();
    return addLeaf(
        TagValueWrapper{util::ByteArray::copyOf(std::span<const util::Byte>(buffers_->tagBuffer.data(), length)), 2});
}

} // namespace ferrow::codec
