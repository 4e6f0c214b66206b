#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/StatCoderContext.h"
#include "codec/TagValueWrapper.h"

namespace ferrow::expressions {
class TagValueValidator;
}

namespace ferrow::codec {

// A prefix-code tree of tag sets, read once per tile and then walked for
// every way or node: one bit per level leads to a leaf, the tag set.
//
// With a validator (way tag sets) the leaves keep only the tags the profile
// uses, are shared through the validator and classified; leaves that end up
// empty or inaccessible are absent. Without one (node tag sets) leaves are
// kept as coded, and only an empty one is absent.
class TagValueCoder {
public:
    // Deeper trees are refused: a tile's tree has one level per halving of the
    // use count of its rarest tag set, so real trees stay far below this, and
    // a damaged stream must not drive the recursion without limit.
    static constexpr std::int32_t MAX_TREE_DEPTH = 64;

    TagValueCoder(StatCoderContext& coder, DataBuffers& buffers, expressions::TagValueValidator* validator);
    TagValueCoder(const TagValueCoder&) = delete;
    TagValueCoder& operator=(const TagValueCoder&) = delete;

    // The leaf that the next bits lead to, or null for an absent leaf.
    const TagValueWrapper* decodeTagValueSet() {
        std::int32_t node = root_;
        while (node >= 0) {
            node = branches_[static_cast<std::size_t>(node)].child[coder_->decodeSingleBit() ? 1 : 0];
        }
        return node == ABSENT ? nullptr : &leaves_[static_cast<std::size_t>(LEAF_BASE - node)];
    }

    // The present leaves, in the order they were read.
    std::span<const TagValueWrapper> leaves() const noexcept { return leaves_; }

private:
    // A child: a branch index (>= 0), an absent leaf, or LEAF_BASE - leaf index.
    static constexpr std::int32_t ABSENT = -1;
    static constexpr std::int32_t LEAF_BASE = -2;

    struct Branch {
        std::int32_t child[2];
    };

    std::int32_t decodeTree(std::int32_t depth);
    std::int32_t decodeLeaf();

    StatCoderContext* coder_;
    DataBuffers* buffers_;
    expressions::TagValueValidator* validator_;
    std::span<const std::uint8_t> usedTable_;
    std::vector<Branch> branches_;
    std::vector<TagValueWrapper> leaves_;
    std::int32_t root_;
};

} // namespace ferrow::codec
