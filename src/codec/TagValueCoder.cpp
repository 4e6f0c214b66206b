#include "codec/TagValueCoder.h"

#include <string>

#include "codec/CorruptTile.h"
#include "expressions/TagValueValidator.h"

namespace ferrow::codec {

TagValueCoder::TagValueCoder(StatCoderContext& coder, DataBuffers& buffers, expressions::TagValueValidator* validator)
    : coder_(&coder), buffers_(&buffers), validator_(validator) {
    if (validator_ != nullptr) {
        usedTable_ = validator_->lookupIdxUsedTable();
    }
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

std::int32_t TagValueCoder::decodeLeaf() {
    util::BitCoderContext& out = buffers_->tagCoder;
    out.reset();
    if (validator_ == nullptr) {
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
        leaves_.push_back(TagValueWrapper{
            util::ByteArray::copyOf(std::span<const util::Byte>(buffers_->tagBuffer.data(), length)), 2});
        return LEAF_BASE - static_cast<std::int32_t>(leaves_.size() - 1);
    }

    // The running index is 64-bit so that damaged steps cannot wrap it back
    // into the table.
    std::int64_t index = 0;
    std::int64_t lastKept = 0;
    bool kept = false;
    for (std::int32_t step = coder_->decodeVarBits(); step != 0; step = coder_->decodeVarBits()) {
        index += step;
        const std::int32_t value = coder_->decodeVarBits();
        if (index < static_cast<std::int64_t>(usedTable_.size()) &&
            (usedTable_[static_cast<std::size_t>(index)] & 1U) != 0) {
            out.encodeVarBits(static_cast<std::int32_t>(index - lastKept));
            out.encodeVarBits(value);
            lastKept = index;
            kept = true;
        }
    }
    if (!kept) {
        return ABSENT;
    }
    out.encodeVarBits(0);
    const std::int32_t length = out.flushAndGetLength();
    util::ByteArray data =
        validator_->unify(std::span<const util::Byte>(buffers_->tagBuffer.data(), static_cast<std::size_t>(length)));
    const std::int32_t accessType = validator_->accessType(data);
    if (accessType == 0) {
        return ABSENT;
    }
    leaves_.push_back(TagValueWrapper{std::move(data), accessType});
    return LEAF_BASE - static_cast<std::int32_t>(leaves_.size() - 1);
}

} // namespace ferrow::codec
