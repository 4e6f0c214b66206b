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
// kept as coded, and only an empty one is absent. Kept raw (way tag sets that
// no profile has looked at yet), a leaf keeps its pairs as read; its wrapper
// holds no bytes, and only an empty one is absent.
class TagValueCoder {
public:
    // Deeper trees are refused: a tile's tree has one level per halving of the
    // use count of its rarest tag set, so real trees stay far below this, and
    // a damaged stream must not drive the recursion without limit.
    static constexpr std::int32_t MAX_TREE_DEPTH = 64;

    TagValueCoder(StatCoderContext& coder, DataBuffers& buffers, expressions::TagValueValidator* validator)
        : TagValueCoder(coder, buffers, validator, false) {}
    struct KeepRaw {};
    TagValueCoder(StatCoderContext& coder, DataBuffers& buffers, KeepRaw)
        : TagValueCoder(coder, buffers, nullptr, true) {}
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
    // The position of a leaf that decodeTagValueSet returned among them.
    std::size_t indexOf(const TagValueWrapper& leaf) const noexcept {
        return static_cast<std::size_t>(&leaf - leaves_.data());
    }

    // Of a coder that keeps its leaves raw: the pairs of every present leaf,
    // one after the other, and where each leaf's pairs lie.
    struct RawLeaf {
        std::uint32_t offset;
        std::uint32_t count;
        std::uint64_t hash;
    };
    std::span<const std::int32_t> rawPairs() const noexcept { return rawPairs_; }
    std::span<const RawLeaf> rawLeaves() const noexcept { return rawLeaves_; }

private:
    TagValueCoder(StatCoderContext& coder, DataBuffers& buffers, expressions::TagValueValidator* validator,
                  bool keepRaw);

    // A child: a branch index (>= 0), an absent leaf, or LEAF_BASE - leaf index.
    static constexpr std::int32_t ABSENT = -1;
    static constexpr std::int32_t LEAF_BASE = -2;

    struct Branch {
        std::int32_t child[2];
    };

    std::int32_t decodeTree(std::int32_t depth);
    std::int32_t decodeLeaf();
    std::int32_t decodeCodedLeaf();
    // Reads a leaf's pairs onto the end of rawPairs_; whether it has any.
    bool readPairs();
    std::int32_t addLeaf(TagValueWrapper leaf);

    StatCoderContext* coder_;
    DataBuffers* buffers_;
    expressions::TagValueValidator* validator_;
    bool keepRaw_;
    std::vector<Branch> branches_;
    std::vector<TagValueWrapper> leaves_;
    std::vector<std::int32_t> rawPairs_;
    std::vector<RawLeaf> rawLeaves_;
    std::int32_t root_;
};

} // namespace ferrow::codec
