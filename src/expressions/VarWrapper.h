#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "util/LruMap.h"

namespace ferrow::expressions {

// An entry of the cache of distinct output vectors, so that tag sets with
// equal outputs share one vector.
class VarWrapper final : public util::LruMapNode {
public:
    std::shared_ptr<std::vector<float>> vars;

    // Bit pattern of a float with every NaN taken as the canonical one.
    static std::uint32_t floatBits(float value) {
        return std::isnan(value) ? 0x7FC00000U : std::bit_cast<std::uint32_t>(value);
    }

    static std::int32_t hashOf(const std::vector<float>& values) {
        std::uint32_t h = 1;
        for (const float value : values) {
            h = 31U * h + floatBits(value);
        }
        return static_cast<std::int32_t>(h);
    }

    // Equal bit patterns: NaN equals NaN, 0 and -0 differ.
    bool equals(const util::LruMapNode& other) const override {
        const auto& wrapper = static_cast<const VarWrapper&>(other);
        if (hash != wrapper.hash) {
            return false;
        }
        if (vars == wrapper.vars) {
            return true;
        }
        if (!vars || !wrapper.vars || vars->size() != wrapper.vars->size()) {
            return false;
        }
        for (std::size_t i = 0; i < vars->size(); ++i) {
            if (floatBits((*vars)[i]) != floatBits((*wrapper.vars)[i])) {
                return false;
            }
        }
        return true;
    }
};

} // namespace ferrow::expressions
