#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "util/ByteArray.h"
#include "util/LruMap.h"

namespace ferrow::expressions {

// An evaluation cache entry: a tag set, keyed by its CRC, and the outputs of
// both directions (forward slots first, then reverse). The output vector is
// shared with every entry that has equal outputs and never written again.
class CacheNode final : public util::LruMapNode {
public:
    util::ByteArray ab;
    std::shared_ptr<const std::vector<float>> vars;
    // vars' floats, read by every evaluation that finds the entry: one load
    // less on the way to them.
    const float* outputs = nullptr;

    void setVars(std::shared_ptr<const std::vector<float>> shared) {
        vars = std::move(shared);
        outputs = vars->data();
    }

    // A probe without bytes matches the first entry with an equal hash.
    bool equals(const util::LruMapNode& other) const override {
        const auto& node = static_cast<const CacheNode&>(other);
        if (hash != node.hash) {
            return false;
        }
        return !ab || ab.isSameAs(node.ab) || ab.contentEquals(node.ab);
    }
};

} // namespace ferrow::expressions
